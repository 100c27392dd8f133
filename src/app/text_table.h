// The key-to-text table: every text a user can re-word, from built-in
// Japanese texts, the per-user store and a language file.
#pragma once

#include <map>
#include <span>
#include <string>

namespace kelto {

struct TextEntry {
    const char* key;
    const char* text;
};

// The built-in entries, in the order they are set.
std::span<const TextEntry> BuiltInTextEntries();

class CTextTable {
public:
    // The table's text for `key`, or `key` itself when it has none.
    std::string GetText(const std::string& key) const;
    void SetText(const std::string& key, const std::string& text);

    // Built-in entries, then the store's "Zen%d" values below `zenKeyPath`,
    // then the language file (may be empty).
    void Load(const std::string& zenKeyPath, const std::string& languageFile);
    void SaveToRegistry(const std::string& zenKeyPath) const;
    void DeleteFromRegistry(const std::string& zenKeyPath);
    // `buffer` is NUL-terminated and writable; NUL bytes are written into it.
    void ParseText(char* buffer);

    void SetBuiltInTexts();
    size_t Size() const { return m_map.size(); }
    void Clear() { m_map.clear(); }
    const std::map<std::string, std::string>& Entries() const { return m_map; }

private:
    std::map<std::string, std::string> m_map;
};

// The one table of the process.
CTextTable& TextTable();

// Shorthand for TextTable().GetText(key).
std::string GetText(const std::string& key);

// Cleans one language-file field in place. On success `field` may have been
// cut short and moved to its new start.
bool TrimTextField(char*& field);

}  // namespace kelto
