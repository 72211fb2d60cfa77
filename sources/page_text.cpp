#include "sources/page_text.h"

#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani {

std::string page_text(std::string_view body, PageDecode decode) {
    switch (decode) {
    case PageDecode::utf8_to_gbk:
        return std::string(until_zero(convert_charset(body)));
    case PageDecode::gbk:
        return std::string(until_zero(convert_charset(body, "GBK")));
    case PageDecode::as_is:
        break;
    }
    return std::string(until_zero(body));
}

} // namespace tovani
