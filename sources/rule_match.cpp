#include "sources/rule_match.h"

#include "text/text_helpers.h"

namespace tovani {

PatternRun run_pattern(RegexObject& re, std::string_view pattern, std::string_view text,
                       PatternOptions options) {
    const bool strict = options == PatternOptions::strict;
    if (!re.create(pattern, text, strict, strict, true, true)) {
        return PatternRun::compile_failed;
    }
    if (re.limit_hit()) {
        return PatternRun::limit_hit;
    }
    return re.match_count() == 0 ? PatternRun::no_match : PatternRun::matched;
}

std::string apply_field(const FieldRule& field, std::string_view text, const LinkBases& bases) {
    std::string out(text);
    if (field.between) {
        out = text_between(out, field.between->first, field.between->second);
    }
    if (!field.before.empty()) {
        out = text_before(out, field.before);
    }
    if (!field.after.empty()) {
        out = text_after(out, field.after);
    }
    for (const std::string& piece : field.remove) {
        out = replace_text(out, piece, "");
    }
    if (!field.repair_when.empty() && contains_text(out, field.repair_when)) {
        out = text_before(out, field.repair_before);
    }
    std::string base;
    switch (field.base) {
    case LinkBase::none:
        break;
    case LinkBase::site_root:
        base = bases.site_root;
        break;
    case LinkBase::book_link:
        base = bases.book_link;
        break;
    }
    if (base.empty() && field.prefix.empty() && field.suffix.empty()) {
        return out;
    }
    return base + field.prefix + out + field.suffix;
}

std::string read_field(const FieldRule& field, const RegexObject& re, int index,
                       const LinkBases& bases) {
    if (field.group == 0) {
        return {};
    }
    return apply_field(field, re.submatch_text(index, field.group), bases);
}

} // namespace tovani
