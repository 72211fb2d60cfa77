#pragma once
// Turning a fetched body into the text the adapters cut apart.

#include <string>
#include <string_view>

#include "sources/source_rule.h"

namespace tovani {

/// Decodes `body` as the rule says and ends the text at its first zero byte.
std::string page_text(std::string_view body, PageDecode decode);

} // namespace tovani
