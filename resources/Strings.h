#pragma once
// The string tables, English and Japanese under the same ids. Texts are UTF-8.
#include <string>

enum class ELanguage { English, Japanese };

// Japanese when the locale (LC_ALL, else LC_MESSAGES, else LANG) is Japanese; English otherwise.
ELanguage GetUserLanguage();
// The text of nId in the user's language; empty when the table has no such id.
std::string LoadString(unsigned nId);
std::string LoadString(unsigned nId, ELanguage eLanguage);
