#include "support/text_template.hpp"

#include <set>
#include <stdexcept>

namespace zel {

std::string fill_template(const char *text, TemplateValues values) {
    std::string source(text);
    if (!source.empty() && source[0] == '\n')
        source.erase(0, 1);
    std::set<std::string> unused;
    for (const auto &value : values)
        if (!unused.insert(value.first).second)
            throw std::logic_error("template value given twice: " + std::string(value.first));
    std::string filled;
    size_t from = 0;
    for (size_t at; (at = source.find("${", from)) != std::string::npos;) {
        size_t end = source.find('}', at);
        if (end == std::string::npos)
            throw std::logic_error("unclosed template placeholder: " + source.substr(at));
        std::string name = source.substr(at + 2, end - at - 2);
        const std::string *value = nullptr;
        for (const auto &given : values)
            if (name == given.first)
                value = &given.second;
        if (!value)
            throw std::logic_error("template placeholder without a value: " + name);
        unused.erase(name);
        filled.append(source, from, at - from).append(*value);
        from = end + 1;
    }
    if (!unused.empty())
        throw std::logic_error("template value without a placeholder: " + *unused.begin());
    return filled.append(source, from, std::string::npos);
}

} // namespace zel
