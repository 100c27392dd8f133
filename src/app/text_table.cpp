#include "app/text_table.h"

#include <fstream>
#include <iterator>
#include <new>
#include <vector>

#include "platform/user_store.h"

namespace kelto {
namespace {

const TextEntry kBuiltIn[] = {
    {"kelto_name", "Kelto"},
    {"kelto_ext", ".cpy"},
    {"kelto_regionalization_by", "anonymous"},
    {"kelto_regionalization_by_url", "https://kelto.example.org/translation/"},
    {"kelto_regionalization_by_email", "translator@kelto.example.org"},
    {"kelto_site", "KELTO のサイトです。"},
    {"kelto_site_url", "https://kelto.example.org/"},
    {"set_title", "設定"},
    {"set_main", "基本動作"},
    {"set_main_security", "セキュリティ"},
    {"set_main_view", "表示"},
    {"set_main_password", "パスワード"},
    {"menu_set", "設定(&S)"},
    {"menu_exit", "終了(&X)"},
    {"message_cryption_started", "暗号化-復号化を開始します"},
    {"message_cryption_canceled", "ファイルの暗号化-復号化を中止します。"},
    {"message_cryption_finished", "ファイルの暗号化-復号化は終了しました。"},
    {"menu_password_hash", "前回のパスワードと確認する(&R)"},
    {"message_password_hash", "前回と違うパスワードです、暗号化を行いますか？"},
    {"error_encryption_remove", "ファイルの暗号化は成功しましたが、元のファイルを削除することができませんでした。"},
    {"error_auto_exit", "エラーが発生したため、自動終了はキャンセルされました"},
    {"kelto_goodbye", "自動終了します"},
    {"menu_auto_exit", "自動終了する(&X)"},
    {"menu_sendto", "メニューの送るに追加(&S)"},
    {"menu_ext", "拡張子の関連付け(&E)"},
    {"link_comment", "暗号化データ"},
    {"link_title", "暗号化(Kelto)"},
    {"error_directory_system", "システムディレクトリ自体を暗号化することは出来ません。"},
    {"error_directory_systemroot", "システムルートディレクトリ自体を暗号化することは出来ません。"},
    {"error_directory_windows", "ウインドウズディレクトリ自体を暗号化することは出来ません。"},
    {"menu_write_readonly", "読み取り属性も暗号化する"},
    {"message_file_attributes_failed", "ファイル属性を変更することができませんでした。"},
    {"menu_password_mask", "パスワードにマスクをかける(&M)"},
    {"message_drop", "ファイルがドラッグされました。ドラッグしたファイルのみが暗号化、並びに復号化されます。"},
    {"language", "Japanese"},
    {"font_name", "ＭＳ　ゴシック"},
    {"button_cipher", "暗号化"},
    {"button_decipher", "復号化"},
    {"button_encryption_stop", "中止"},
    {"button_decryption_stop", "中止"},
    {"button_okay", "OK"},
    {"button_cancel", "Cancel"},
    {"button_kelto", "GO !"},
    {"button_text_copy", "Copy"},
    {"status_run", "実行状況"},
    {"please_input_password", "パスワードを入力してください。"},
    {"used", "Keltoをご使用になられた場合に作成されます。"},
    {"password_miss", "パスワードが一致しませんでした。"},
    {"decipher_upbox_input", "復号化時には上部で入力されたパスワードが有効になります。下部で入力されたパスワードは復号化時には使用されません。"},
    {"log_max", "ログが200件以上なのでログを初期化しました。"},
    {"counter_max", "カウンタが1000件以上なのでカウンタを初期化しました。"},
    {"menu_write_random", "ファイル削除する場合ランダム値を書き込む(&R)"},
    {"menu_write_zero", "ファイル削除する場合ゼロ値を書き込む(&Z)"},
    {"menu_view_directory", "フォルダの表示(&F)"},
    {"menu_again_password", "パスワードの再度確認(&P)"},
    {"menu_about", "バージョン情報(&A)"},
    {"message", "Msg"},
    {"message_encryption_started", "暗号化を開始します。"},
    {"message_decryption_started", "復号化を開始します。"},
    {"message_problem_analysis", "問題があるファイルがあれば表示します。"},
    {"message_encryption_canceled", "ファイルの暗号化を中止します。"},
    {"message_decryption_canceled", "ファイルの復号化を中止します。"},
    {"message_encryption_finished", "ファイルの暗号化は終了しました。"},
    {"message_decryption_finished", "ファイルの復号化は終了しました。"},
    {"message_file_seek_failed", "ファイルの検索が失敗しました。"},
    {"message_file_open_failed", "ファイルを開く事ができません。ファイルの属性を調べてください。"},
    {"message_file_create_failed", "作成する事がができません。フォルダの属性を調べてください。"},
    {"error", "Err"},
    {"error_safety_check", "「暗号化－復号化」安全確認チェックプログラムにエラーが発生しました。"},
    {"error_max_path", "ファイルパスが256文字をオーバーしました。"},
    {"error_word", "不正文字を検出しました。"},
    {"error_read_file", "ファイルの読み込みに失敗しました。"},
    {"error_kelto_format", "このファイルは、Keltoフォーマットではありません。"},
    {"error_password_missing", "パスワードが間違っています。"},
    {"error_get_decryption_filename", "復号化ファイル名の取得に失敗しました。"},
    {"error_same_filename", "同じ名前のファイルがあります。上書きすることはできません。"},
    {"error_broken_kelto_format", "Keltoフォーマットファイルが壊れています。"},
    {"error_file_status", "ファイルステータスの設定に失敗しました。"},
};

}  // namespace

std::span<const TextEntry> BuiltInTextEntries() { return kBuiltIn; }

std::string CTextTable::GetText(const std::string& key) const {
    auto it = m_map.find(key);
    return it != m_map.end() ? it->second : key;
}

void CTextTable::SetText(const std::string& key, const std::string& text) { m_map[key] = text; }

void CTextTable::SetBuiltInTexts() {
    for (const TextEntry& e : kBuiltIn) SetText(e.key, e.text);
}

void CTextTable::Load(const std::string& zenKeyPath, const std::string& languageFile) {
    SetBuiltInTexts();

    CUserStoreKey key;
    if (key.Create(zenKeyPath)) {
        for (int n = 0;; ++n) {
            StoreValue v;
            if (!key.QueryValue("Zen" + std::to_string(n), v)) break;
            if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) break;
            if (v.data.empty() || v.data.back() != '\0') break;
            // The stored form holds 255 bytes and a NUL; a longer value ends the read.
            if (v.data.size() > 256) break;
            std::string s(v.data.c_str());
            size_t eq = s.find('=');
            if (eq != std::string::npos && eq > 0) SetText(s.substr(0, eq), s.substr(eq + 1));
        }
        key.Close();
    }

    if (languageFile.empty()) return;
    try {
        std::ifstream f(languageFile, std::ios::binary);
        if (!f) return;
        std::vector<char> buffer((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        if (f.bad()) return;
        buffer.push_back('\0');
        ParseText(buffer.data());
    } catch (const std::exception&) {
        // Unreadable or too large: the table keeps what it has.
    }
}

void CTextTable::SaveToRegistry(const std::string& zenKeyPath) const {
    if (m_map.empty()) return;
    CUserStoreKey key;
    if (!key.Create(zenKeyPath)) return;
    int n = 0;
    for (const auto& [k, text] : m_map) {
        StoreValue v;
        v.type = REG_SZ;
        v.data = k + "=" + text;
        v.data += '\0';
        key.SetValue("Zen" + std::to_string(n++), v);
    }
}

void CTextTable::DeleteFromRegistry(const std::string& zenKeyPath) {
    CUserStoreKey key;
    if (key.Create(zenKeyPath)) {
        key.Close();
        CUserStoreKey::DeleteKey(zenKeyPath);
    }
    Clear();
}

void CTextTable::ParseText(char* buffer) {
    char* lineStart = buffer;
    char* lastEq = nullptr;
    for (char* p = buffer;; ++p) {
        char c = *p;
        if (c == '=') {
            lastEq = p;
            continue;
        }
        if (c != '\r' && c != '\n' && c != '\0') continue;
        char* next = p + 1;
        if (c != '\0' && *next == '\n') ++next;
        if (lastEq) {
            *lastEq = '\0';
            *p = '\0';
            char* keyField = lineStart;
            char* textField = lastEq + 1;
            if (TrimTextField(keyField) && TrimTextField(textField)) SetText(keyField, textField);
        }
        if (c == '\0') break;
        lineStart = next;
        lastEq = nullptr;
        p = next - 1;
    }
}

bool TrimTextField(char*& field) {
    char* p = field;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0' || (p[0] == '/' && p[1] == '/')) return false;
    char quote = (*p == '\'' || *p == '"') ? *p : '\0';
    char* start = quote ? p + 1 : p;
    for (char* q = start; *q; ++q) {
        if (quote ? *q == quote : (q[0] == '/' && q[1] == '/')) {
            *q = '\0';
            field = start;
            return true;
        }
    }
    // Neither a closing quote nor a comment: the field stands as written,
    // without its leading blanks (an unclosed quote stays part of it).
    field = p;
    return true;
}

CTextTable& TextTable() {
    static CTextTable table;
    return table;
}

std::string GetText(const std::string& key) { return TextTable().GetText(key); }

}  // namespace kelto
