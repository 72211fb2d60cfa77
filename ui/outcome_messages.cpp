#include "ui/outcome_messages.h"

#include "text/encoding.h"

namespace tovani::ui {

const std::string& search_placeholder() {
    static const std::string hint = gbk("可搜书名和作者，请您少字也别输错字。");
    return hint;
}

Message failure_message(const BookSource& source, const Outcome& outcome) {
    return {failure_text(source, outcome), MessageIcon::error, gbk("信息：")};
}

std::optional<Message> search_message(const BookSource& source, const SearchOutcome& outcome) {
    if (outcome.outcome.ok()) {
        return std::nullopt;
    }
    if (outcome.outcome.kind == OutcomeKind::no_match) {
        return ui_message(outcome.pattern_error ? "正则创建失败，请检查正则表达式语句是否有误！"
                                                : "搜索不到！",
                          MessageIcon::error, "信息：");
    }
    return failure_message(source, outcome.outcome);
}

std::optional<ChapterListMessage> chapter_list_message(const BookSource& source,
                                                       const ChapterListResult& result) {
    switch (result.status) {
    case ChapterListStatus::ok:
        return std::nullopt;
    case ChapterListStatus::page_unsupported:
        return ChapterListMessage{
            ui_message("怎么说呢，部分小说本身会有乱码的出现，我就不处理了，所以干脆不显示，换个"
                       "书源试试。",
                       MessageIcon::information, "系统提示"),
            true};
    case ChapterListStatus::pattern_failed:
    case ChapterListStatus::no_chapters:
        break;
    }
    if (result.outcome.site_failed()) {
        return ChapterListMessage{failure_message(source, result.outcome), false};
    }
    // The first four sources tell an empty list with the information icon.
    const MessageIcon icon =
        result.status == ChapterListStatus::no_chapters && source.id() >= 1 && source.id() <= 4
            ? MessageIcon::information
            : MessageIcon::error;
    return ChapterListMessage{
        {gbk("拉取章节失败！") + "\n" + failure_text(source, result.outcome), icon, gbk("信息：")},
        false};
}

std::optional<Message> details_message(const BookSource& source, const DetailsOutcome& outcome) {
    if (outcome.refused) {
        return ui_message("暂不支持！", MessageIcon::information, "系统提示");
    }
    if (!outcome.details) {
        return failure_message(source, outcome.outcome);
    }
    return std::nullopt;
}

} // namespace tovani::ui
