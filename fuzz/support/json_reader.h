#pragma once
// A small strict JSON reader (RFC 8259) for checking the result writer: it
// reads one value, refuses anything outside the grammar, and records what the
// writer chose where the grammar leaves a choice (white space, escapes).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fuzz_json {

struct Value;
using Object = std::vector<std::pair<std::string, Value>>;  // members in text order
using Array = std::vector<Value>;

struct Number {
    std::string text;
};

struct Value {
    std::variant<std::nullptr_t, bool, Number, std::string, std::shared_ptr<Array>, std::shared_ptr<Object>> data;
};

// Writer choices the grammar allows but the result file never makes.
struct Choices {
    bool white_space = false;            // insignificant white space anywhere
    bool needless_escape = false;        // \/ or \uXXXX for a character that has a short form or needs none
    bool upper_case_hex_escape = false;  // \u00AB instead of \u00ab
};

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}
    // The reader keeps a view: a temporary text would be gone before reading.
    explicit Reader(std::string&&) = delete;

    // The one value that makes up the whole text, or nothing when the text is not JSON.
    std::optional<Value> read_document() {
        skip_white_space();
        auto value = read_value(0);
        skip_white_space();
        if (!value || pos_ != text_.size()) return std::nullopt;
        return value;
    }

    const Choices& choices() const { return choices_; }

private:
    static constexpr int kMaximumDepth = 64;

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_white_space() {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            choices_.white_space = true;
            ++pos_;
        }
    }

    bool consume(char c) {
        if (at_end() || peek() != c) return false;
        ++pos_;
        return true;
    }

    bool consume_word(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    std::optional<Value> read_value(int depth) {
        if (at_end() || depth > kMaximumDepth) return std::nullopt;
        switch (peek()) {
            case '{': return read_object(depth);
            case '[': return read_array(depth);
            case '"': {
                auto s = read_string();
                if (!s) return std::nullopt;
                return Value{std::move(*s)};
            }
            case 't': return consume_word("true") ? std::optional<Value>(Value{true}) : std::nullopt;
            case 'f': return consume_word("false") ? std::optional<Value>(Value{false}) : std::nullopt;
            case 'n': return consume_word("null") ? std::optional<Value>(Value{nullptr}) : std::nullopt;
            default: return read_number();
        }
    }

    std::optional<Value> read_object(int depth) {
        ++pos_;
        auto object = std::make_shared<Object>();
        skip_white_space();
        if (consume('}')) return Value{object};
        while (true) {
            skip_white_space();
            if (at_end() || peek() != '"') return std::nullopt;
            auto key = read_string();
            if (!key) return std::nullopt;
            skip_white_space();
            if (!consume(':')) return std::nullopt;
            skip_white_space();
            auto value = read_value(depth + 1);
            if (!value) return std::nullopt;
            object->emplace_back(std::move(*key), std::move(*value));
            skip_white_space();
            if (consume('}')) return Value{object};
            if (!consume(',')) return std::nullopt;
        }
    }

    std::optional<Value> read_array(int depth) {
        ++pos_;
        auto array = std::make_shared<Array>();
        skip_white_space();
        if (consume(']')) return Value{array};
        while (true) {
            skip_white_space();
            auto value = read_value(depth + 1);
            if (!value) return std::nullopt;
            array->push_back(std::move(*value));
            skip_white_space();
            if (consume(']')) return Value{array};
            if (!consume(',')) return std::nullopt;
        }
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    bool read_digits() {
        const std::size_t start = pos_;
        while (!at_end() && is_digit(peek())) ++pos_;
        return pos_ > start;
    }

    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
    std::optional<Value> read_number() {
        const std::size_t start = pos_;
        consume('-');
        if (consume('0')) {
        } else if (!at_end() && peek() >= '1' && peek() <= '9') {
            read_digits();
        } else {
            return std::nullopt;
        }
        if (consume('.') && !read_digits()) return std::nullopt;
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!consume('+')) consume('-');
            if (!read_digits()) return std::nullopt;
        }
        return Value{Number{std::string(text_.substr(start, pos_ - start))}};
    }

    std::optional<unsigned> read_hex4() {
        if (text_.size() - pos_ < 4) return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
                choices_.upper_case_hex_escape = true;
            } else {
                return std::nullopt;
            }
            value = value * 16 + digit;
        }
        return value;
    }

    static void append_utf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    static bool has_short_escape(std::uint32_t cp) {
        return cp == '"' || cp == '\\' || cp == '\b' || cp == '\f' || cp == '\n' || cp == '\r' || cp == '\t';
    }

    // The string's content as bytes. Unescaped bytes are taken as they stand
    // (the caller checks UTF-8 separately); control characters must be escaped.
    std::optional<std::string> read_string() {
        ++pos_;
        std::string out;
        while (true) {
            if (at_end()) return std::nullopt;
            const char c = text_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_end()) return std::nullopt;
            switch (text_[pos_++]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/':
                    out += '/';
                    choices_.needless_escape = true;
                    break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    auto unit = read_hex4();
                    if (!unit) return std::nullopt;
                    std::uint32_t cp = *unit;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (!consume_word("\\u")) return std::nullopt;
                        auto low = read_hex4();
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return std::nullopt;
                    }
                    if (cp >= 0x20 || has_short_escape(cp)) choices_.needless_escape = true;
                    append_utf8(out, cp);
                    break;
                }
                default: return std::nullopt;
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    Choices choices_;
};

}  // namespace fuzz_json
