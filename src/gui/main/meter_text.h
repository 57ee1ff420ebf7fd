#pragma once
// Texts that come from the meters or go to them (names, device texts, list entries) are one byte
// per character; Qt's own strings are Unicode. Latin-1 maps every byte to one character and back,
// so a name byte of 0x80 or above survives a trip through an edit unchanged.

#include <QString>
#include <string>

namespace quorna {

inline QString toQt(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
inline std::string fromQt(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace quorna
