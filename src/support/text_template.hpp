// Generated code written as it is emitted: a template is a raw string literal whose `${name}`
// placeholders are filled from named values, so that a reader sees the emitted text whole
// rather than concatenations that clang-format breaks up. `$` stands in no C or Cython text
// the templates hold.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace zel {

using TemplateValues = std::initializer_list<std::pair<const char *, std::string>>;

// The template with each placeholder replaced by its value. A leading newline, which lets a
// template begin on the line after its opening quote, is dropped. A placeholder without a
// value, a value that no placeholder takes or a value given twice is a fault of the template
// and throws std::logic_error.
std::string fill_template(const char *text, TemplateValues values);

} // namespace zel
