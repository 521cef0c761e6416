#include "RegistryScript.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace FB {
namespace Atl {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool sameWord(const std::string& a, const char* b) { return lower(a) == lower(b); }

struct Token {
    std::string text;
    bool quoted = false;
};

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    // Throws std::runtime_error with a readable message on malformed text.
    bool next(Token& out) {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
        if (m_pos >= m_text.size())
            return false;
        out = Token();
        if (m_text[m_pos] == '\'') {
            out.quoted = true;
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size())
                    throw std::runtime_error("unterminated quoted text");
                char c = m_text[m_pos++];
                if (c == '\'') {
                    if (m_pos < m_text.size() && m_text[m_pos] == '\'') {
                        out.text += '\'';
                        ++m_pos;
                        continue;
                    }
                    break;
                }
                out.text += c;
            }
            return true;
        }
        // A brace or an equals sign stands alone; other text runs to the next blank. A
        // GUID key name written without quotes ("{...}") is one word.
        char c = m_text[m_pos];
        if (c == '}' || c == '=' ) {
            out.text = std::string(1, c);
            ++m_pos;
            return true;
        }
        if (c == '{' && (m_pos + 1 >= m_text.size() ||
                         std::isspace(static_cast<unsigned char>(m_text[m_pos + 1])))) {
            out.text = "{";
            ++m_pos;
            return true;
        }
        while (m_pos < m_text.size() && !std::isspace(static_cast<unsigned char>(m_text[m_pos])) &&
               m_text[m_pos] != '=' && m_text[m_pos] != '\'')
            out.text += m_text[m_pos++];
        return true;
    }

private:
    const std::string& m_text;
    std::size_t m_pos = 0;
};

class Parser {
public:
    explicit Parser(const std::string& text) : m_reader(text) { advance(); }

    std::vector<RegRoot> script() {
        std::vector<RegRoot> roots;
        while (m_has) {
            RegRoot root;
            root.root = rootName(m_tok);
            advance();
            expect("{");
            root.keys = keys();
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    void advance() { m_has = m_reader.next(m_tok); }

    bool at(const char* text) const { return m_has && !m_tok.quoted && m_tok.text == text; }

    void expect(const char* text) {
        if (!at(text))
            throw std::runtime_error(std::string("expected '") + text + "' but found " + found());
        advance();
    }

    std::string found() const { return m_has ? "'" + m_tok.text + "'" : "the end of the script"; }

    static std::string rootName(const Token& t) {
        static const char* const names[][2] = {
            {"HKCR", "HKEY_CLASSES_ROOT"}, {"HKCU", "HKEY_CURRENT_USER"},
            {"HKLM", "HKEY_LOCAL_MACHINE"}, {"HKU", "HKEY_USERS"},
            {"HKPD", "HKEY_PERFORMANCE_DATA"}, {"HKDD", "HKEY_DYN_DATA"},
            {"HKCC", "HKEY_CURRENT_CONFIG"}};
        for (const auto& n : names)
            if (!t.quoted && (sameWord(t.text, n[0]) || sameWord(t.text, n[1])))
                return n[0];
        throw std::runtime_error("unknown registry root '" + t.text + "'");
    }

    // Entries up to and including the closing brace of the block.
    std::vector<RegNode> keys() {
        std::vector<RegNode> out;
        for (;;) {
            if (!m_has)
                throw std::runtime_error("missing '}' at the end of the script");
            if (at("}")) {
                advance();
                return out;
            }
            out.push_back(entry());
        }
    }

    RegNode entry() {
        RegNode node;
        if (!m_tok.quoted) {
            if (sameWord(m_tok.text, "val")) {
                node.isValue = true;
                advance();
            } else if (sameWord(m_tok.text, "NoRemove")) {
                node.flag = RegKeyFlag::NoRemove;
                advance();
            } else if (sameWord(m_tok.text, "ForceRemove")) {
                node.flag = RegKeyFlag::ForceRemove;
                advance();
            } else if (sameWord(m_tok.text, "Delete")) {
                node.flag = RegKeyFlag::Delete;
                advance();
            }
        }
        if (!m_has || (!m_tok.quoted && (m_tok.text == "{" || m_tok.text == "}" || m_tok.text == "=")))
            throw std::runtime_error("expected a name but found " + found());
        node.name = m_tok.text;
        advance();
        if (at("=")) {
            advance();
            valueOf(node);
        } else if (node.isValue) {
            throw std::runtime_error("value '" + node.name + "' has no '='");
        }
        if (at("{")) {
            if (node.isValue)
                throw std::runtime_error("value '" + node.name + "' cannot hold subkeys");
            advance();
            node.children = keys();
        }
        return node;
    }

    void valueOf(RegNode& node) {
        if (!m_has || m_tok.quoted)
            throw std::runtime_error("expected a value type after '" + node.name + " ='");
        std::string type = lower(m_tok.text);
        if (type != "s" && type != "d")
            throw std::runtime_error("unsupported value type '" + m_tok.text + "' for '" + node.name + "'");
        advance();
        if (!m_has || !m_tok.quoted)
            throw std::runtime_error("expected quoted text for '" + node.name + "'");
        node.hasValue = true;
        node.type = type[0];
        node.text = m_tok.text;
        if (node.type == 'd') {
            char* end = nullptr;
            node.dword = node.text.empty() ? 0 : std::strtoul(node.text.c_str(), &end, 0);
            if (!node.text.empty() && (end == nullptr || *end != '\0'))
                throw std::runtime_error("'" + node.text + "' is not a number for '" + node.name + "'");
        }
        advance();
    }

    Reader m_reader;
    Token m_tok;
    bool m_has = false;
};

} // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return lower(a) < lower(b);
}

std::string expandRegistryVariables(const std::string& script, const RegVariables& variables,
                                    std::string& errorOut) {
    std::string out;
    errorOut.clear();
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] != '%') {
            out += script[i];
            continue;
        }
        std::size_t close = script.find('%', i + 1);
        if (close == std::string::npos) {
            errorOut = "unclosed '%' in the registry script";
            return std::string();
        }
        std::string name = script.substr(i + 1, close - i - 1);
        if (name.empty()) {
            out += '%';
        } else {
            auto it = variables.find(name);
            if (it == variables.end()) {
                errorOut = "unknown registry script variable '" + name + "'";
                return std::string();
            }
            out += it->second;
        }
        i = close;
    }
    return out;
}

RegScript parseRegistryScript(const std::string& script, const RegVariables& variables) {
    RegScript result;
    std::string text = expandRegistryVariables(script, variables, result.error);
    if (!result.ok())
        return result;
    try {
        result.roots = Parser(text).script();
    } catch (const std::runtime_error& e) {
        result.roots.clear();
        result.error = e.what();
    }
    return result;
}

} // namespace Atl
} // namespace FB
