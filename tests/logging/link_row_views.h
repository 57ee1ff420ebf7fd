#pragma once
// The database link window's mapping list as the window shows it: each row's text, and each
// row's column type.

#include <cstdint>
#include <string>
#include <vector>

#include "forms/database_link_dialog.h"

namespace quorna::test {

inline std::vector<std::string> rowTexts(const DatabaseLinkDialog& dialog) {
    std::vector<std::string> texts;
    for (const LinkRow& row : dialog.rows()) texts.push_back(linkRowText(row));
    return texts;
}

inline std::vector<std::int16_t> rowTypes(const DatabaseLinkDialog& dialog) {
    std::vector<std::int16_t> types;
    for (const LinkRow& row : dialog.rows()) types.push_back(row.sqlType);
    return types;
}

}  // namespace quorna::test
