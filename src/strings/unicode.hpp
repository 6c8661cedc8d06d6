// Unicode helpers of the string library: the White_Space set and the default
// full lowercase mapping (no locale tailoring), from one version of the
// Unicode Character Database (see unicode_tables.inc).
#pragma once

#include <string>
#include <string_view>

namespace mivo::strings {

// The White_Space property (25 code points).
bool is_white_space(char32_t c);

// `text` without its leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view text);

// Appends the full lowercase form of `text` to `out`: every scalar value
// replaced by its lowercase mapping (possibly several scalar values), the
// capital sigma by the final sigma where the Final_Sigma condition holds.
void append_lowercase(std::string_view text, std::string& out);

std::string to_lowercase(std::string_view text);

}  // namespace mivo::strings
