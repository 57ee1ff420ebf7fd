#!/bin/sh
# The strip CPack runs on the packaged programs (CMAKE_STRIP of package_build.sh): the symbols, and
# the compiler's version notes in .comment as Debian's own dh_strip removes them.
exec strip --remove-section=.comment "$@"
