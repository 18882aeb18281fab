// SPDX-License-Identifier: MIT
#include "support/xml_fields.h"

#include <optional>

namespace korvel::testing {
namespace {

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            if (text[i] == '<') return std::nullopt;
            out += text[i];
            continue;
        }
        const size_t end = text.find(';', i);
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view name = text.substr(i + 1, end - i - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else
            return std::nullopt;
        i = end;
    }
    return out;
}

std::string Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> XmlFields(std::string_view xml) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::string> open;  // the path's element names
    std::vector<size_t> text_at;    // per open element, where its text field is in fields
    size_t i = 0;
    const auto path = [&] {
        std::string p;
        for (const std::string& name : open) p += (p.empty() ? "" : "/") + name;
        return p;
    };
    while (i < xml.size()) {
        const size_t lt = xml.find('<', i);
        const std::string_view between = xml.substr(i, lt == std::string_view::npos ? xml.npos : lt - i);
        if (!Trimmed(between).empty()) {
            if (open.empty()) return {};
            const std::optional<std::string> text = Unescaped(between);
            if (!text) return {};
            fields[text_at.back()].second += Trimmed(*text);
        }
        if (lt == std::string_view::npos) break;
        const size_t gt = xml.find('>', lt);
        if (gt == std::string_view::npos) return {};
        std::string_view tag = xml.substr(lt + 1, gt - lt - 1);
        i = gt + 1;
        if (tag.starts_with('?')) continue;
        if (tag.starts_with('/')) {
            if (open.empty() || open.back() != tag.substr(1)) return {};
            open.pop_back();
            text_at.pop_back();
            continue;
        }
        const bool empty = tag.ends_with('/');
        if (empty) tag.remove_suffix(1);
        const size_t name_end = tag.find_first_of(" \t\r\n");
        open.emplace_back(tag.substr(0, name_end));
        text_at.push_back(fields.size());
        fields.emplace_back(path(), std::string());
        // Attributes: name="value" pairs.
        std::string_view rest =
            name_end == std::string_view::npos ? std::string_view() : tag.substr(name_end);
        while (!Trimmed(rest).empty()) {
            const size_t eq = rest.find('=');
            if (eq == std::string_view::npos || eq + 1 >= rest.size() || rest[eq + 1] != '"') return {};
            const size_t close = rest.find('"', eq + 2);
            if (close == std::string_view::npos) return {};
            const std::optional<std::string> value = Unescaped(rest.substr(eq + 2, close - eq - 2));
            if (!value) return {};
            fields.emplace_back(path() + "/@" + Trimmed(rest.substr(0, eq)), *value);
            rest = rest.substr(close + 1);
        }
        if (empty) {
            open.pop_back();
            text_at.pop_back();
        }
    }
    if (!open.empty()) return {};
    return fields;
}

}  // namespace korvel::testing
