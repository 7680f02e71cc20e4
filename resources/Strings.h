#pragma once
// The string tables, English and Japanese under the same ids. Texts are UTF-8.
#include <initializer_list>
#include <string>

enum class ELanguage { English, Japanese };

// Japanese when the locale (LC_ALL, else LC_MESSAGES, else LANG) is Japanese; English otherwise.
ELanguage GetUserLanguage();
// The text of nId in the user's language; empty when the table has no such id.
std::string LoadString(unsigned nId);
std::string LoadString(unsigned nId, ELanguage eLanguage);

// strFormat with %1..%9 replaced by args in order. Only the format is scanned, so an argument
// that itself holds "%2" (a path, a package fault, a machine's reply) goes in as it stands; a
// placeholder without an argument, and a '%' before anything else, stay as written.
std::string FillPlaceholders(const std::string& strFormat, std::initializer_list<std::string> args);
