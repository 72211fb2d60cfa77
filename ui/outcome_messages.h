#pragma once
// The message boxes that tell the user how a request to a site ended.

#include <optional>

#include "sources/book_details.h"
#include "sources/chapter_list.h"
#include "sources/chapter_text.h"
#include "sources/search.h"
#include "ui/prompter.h"

namespace tovani::ui {

/// The search box's grey hint (GBK).
const std::string& search_placeholder();

/// Nothing for rows; "搜索不到！" when the site answered without any; else the source, its host
/// and what went wrong.
std::optional<Message> search_message(const BookSource& source, const SearchOutcome& outcome);

struct ChapterListMessage {
    Message message;
    bool closes_window = false;
};
/// Nothing for a list; "拉取章节失败！" (information icon on sources 1 to 4, error on the others)
/// when the page does not fit the rule, with the details on a second line; the long message of
/// a page without the required heading, which closes the window; the source's failure when
/// the site failed.
std::optional<ChapterListMessage> chapter_list_message(const BookSource& source,
                                                       const ChapterListResult& result);

/// "暂不支持！" for a source without details; the failure when the page could not be read.
std::optional<Message> details_message(const BookSource& source, const DetailsOutcome& outcome);

/// The failure of any request: the source, its host and the reason, error icon.
Message failure_message(const BookSource& source, const Outcome& outcome);

} // namespace tovani::ui
