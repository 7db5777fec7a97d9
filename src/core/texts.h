#pragma once
// Texts a player reads, kept in core without Qt: the source (Chinese) text is marked where it
// stands so that lupdate collects it, and whoever shows it may hand in a translator.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Marks a source text for lupdate (the build passes it as an alias of QT_TRANSLATE_NOOP);
// the program sees the text itself.
#define BRAMBLET_TRANSLATE_NOOP(context, text) text

namespace bramblet::texts {

// Gives the text to show for a marked source text, UTF-8 in and out.
using Translator = std::function<std::string(const char *context, const char *source)>;

// The source text itself: what the Chinese program and the C locale show.
std::string untranslated(const char *context, const char *source);

// `pattern` with %1 … %9 replaced by args[0] … args[8], in one pass: a marker inside an
// argument stays as it is, and a marker without an argument is kept.
std::string fill(std::string_view pattern, const std::vector<std::string> &args);

} // namespace bramblet::texts
