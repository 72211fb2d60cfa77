#include "demo/demo_library.h"

#include <array>
#include <cstdint>

#include "demo/chapter_layout.h"
#include "text/encoding.h"
#include "text/text_helpers.h"

namespace tovani::demo {
namespace {

struct BookSeed {
    int id;
    const char* title;
    const char* author;
    const char* status;
    const char* update_time;
    int chapters;
    std::array<const char*, 3> sentences; // unused slots are null
};

// The bundled catalogue, written for this project. 青衫客 has seven books so that a search for
// the author runs over several result pages on source 5. 錦 and 誠 have 0x5C as second GBK byte,
// 東 has 0x7C; 109 has ASCII letters so keyword encodings that escape letters are exercised.
// clang-format off
constexpr std::array<BookSeed, 12> catalogue{{
    {101, "青灯夜雨录", "墨池生", "已完结", "2023-11-02 21:15:00", 24,
     {"寒门书生夜读青灯，偶得一卷残书。", "书中所记，竟是百年前一桩悬案的线索。",
      "他循着线索走出小城，也走进了更大的风雨。"}},
    {102, "星河渡舟", "青衫客", "连载中", "2024-03-15 08:30:00", 18,
     {"渡口的摆渡人每晚都会抬头数星星。", "直到有一夜，河面上映出了一条不属于人间的船。",
      nullptr}},
    {103, "剑起沧浪", "青衫客", "已完结", "2022-07-20 19:00:00", 30,
     {"少年在海边拾到一柄锈剑。", "剑鸣之日，沧浪之水为之倒流。", "江湖由此多事。"}},
    {104, "山海拾遗", "白鹭洲", "连载中", "2024-01-08 10:45:00", 12,
     {"一位走遍山海的旅人，把沿途听来的奇闻记在随身的册子里。", "册子越写越厚，奇闻也越来越近。",
      nullptr}},
    {105, "長安錦書", "墨池生", "连载中", "2024-02-29 23:59:00", 20,
     {"一封錦書自長安寄出，辗转三年才到收信人手中。", "信里只有一句话，却牵动了半座城。",
      nullptr}},
    {106, "雪落无声", "林晚照", "已完结", "2021-12-24 06:00:00", 16,
     {"北地小镇的冬天很长。", "那一年雪下得格外大，镇上来了一个不肯说出姓名的客人。", nullptr}},
    {107, "云端书院", "青衫客", "连载中", "2024-04-01 12:00:00", 15,
     {"山顶的书院只在云开的日子里招收学生。", "今年来报名的，只有一个背着药篓的小姑娘。",
      nullptr}},
    {108, "東籬閑話", "誠齋", "已完结", "2020-09-09 09:09:09", 10,
     {"退隐的老先生在東籬下种菊。", "来访的客人各有来历，闲话之间，旧日江湖一一浮现。", nullptr}},
    {109, "零号AI纪元", "青衫客", "连载中", "2024-05-20 20:20:00", 14,
     {"第一台会写诗的机器醒来时，城市正在下雨。", "它给自己取名零号，开始记录人类的故事。",
      nullptr}},
    {110, "铁马冰河", "青衫客", "已完结", "2019-03-03 15:30:00", 22,
     {"边关的老兵讲了一辈子同一个故事。", "没有人相信，直到那面残旗重新出现在城头。", nullptr}},
    {111, "夜航船", "青衫客", "连载中", "2024-06-06 18:00:00", 11,
     {"一条只在夜里开行的船，载着互不相识的旅客。", "每到一个渡口，就有一个人讲出自己的秘密。",
      nullptr}},
    {112, "松风问剑", "青衫客", "已完结", "2023-08-15 14:00:00", 19,
     {"松林深处住着一位不再拔剑的剑客。", "上山求教的人络绎不绝，他只教人听风。", nullptr}},
}};

constexpr BookSeed scale_seed{
    DemoLibrary::scale_book_id, "万卷长河", "造书匠", "连载中", "2024-06-30 00:00:00", 0,
    {"这是一部为测试而生成的长书。", "每一章都由固定的词句表按章节号生成，内容不变。", nullptr}};

// Phrase tables for the generated text.
constexpr std::array<const char*, 8> times{
    "清晨时分，", "暮色四合之际，", "夜深人静的时候，", "雨停之后，",
    "过了半晌，", "第二天一早，",   "不知过了多久，",   "正午的日头下，"};
constexpr std::array<const char*, 10> subjects{
    "少年",     "老掌柜", "守门的老人", "她",     "那位青衣书生",
    "東城的更夫", "小师妹", "说书先生",   "山中的樵夫", "赶路的货郎"};
// Subjects with a 0x5C second byte (錦, 誠, 運); every chapter opens with one of them.
constexpr std::array<const char*, 3> subjects_5c{"錦衣客", "誠實的店小二", "運糧的车夫"};
constexpr std::array<const char*, 12> actions{
    "推开了吱呀作响的木门",   "望着远处起伏的山影",   "把茶碗轻轻放回桌上",
    "在灯下翻开一本旧书",     "沿着青石小路慢慢走去", "数着檐下滴落的雨点",
    "想起了多年前的一桩旧事", "将信纸折好收进袖中",   "抬头看了看满天星斗",
    "默默记下了每一个名字",   "把手中的柴刀插回腰间", "听见远处传来几声犬吠"};
constexpr std::array<const char*, 6> endings{
    "。", "，心里却另有打算。", "，一句话也没有说。", "，脚步比往常慢了许多。", "。", "！"};
// Endings with a 0x7C second byte (億, 觸); every chapter's first sentence ends with one.
constexpr std::array<const char*, 2> endings_7c{"，仿佛億萬星辰都在眼前。",
                                                "，觸手可及的寒意让人一颤。"};
constexpr std::array<const char*, 20> chapter_titles{
    "初入山门", "夜雨孤灯", "東風乍起", "錦書難託", "渡口相逢", "旧账新算", "雪夜访友",
    "城头观星", "誠心問道", "運籌帷幄", "億萬星河", "觸景生情", "江湖夜话", "归途漫漫",
    "竹林听雨", "长街灯火", "古寺钟声", "书院论剑", "荒村客栈", "明月照人"};
// clang-format on

// One paragraph of markup characters and of a character GBK lacks, in the first chapter of
// one book: served as HTML references, read as the characters (the one GBK lacks as "?").
struct MarkupParagraph {
    const char* served;
    const char* read;
};
constexpr MarkupParagraph markup_paragraph{
    "他在册页边写下&lt;山&amp;海&gt;三字，又画了一张笑脸&#x1F600;。",
    "他在册页边写下<山&海>三字，又画了一张笑脸?。"};

// splitmix64: a small, fast generator whose sequence depends only on the seed.
struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    template <typename Table> const char* pick(const Table& table) {
        return table[static_cast<std::size_t>(next() % table.size())];
    }
    int between(int low, int high) { return low + static_cast<int>(next() % (high - low + 1)); }
};

Rng chapter_rng(int book_id, int number) {
    return Rng{static_cast<std::uint64_t>(book_id) * 1000003u + static_cast<std::uint64_t>(number)};
}

std::string sentence(Rng& rng) {
    std::string s;
    if (rng.next() % 2 == 0) {
        s += rng.pick(times);
    }
    s += rng.pick(subjects);
    s += rng.pick(actions);
    s += rng.pick(endings);
    return s;
}

std::string paragraph(Rng& rng) {
    std::string p;
    const int count = rng.between(3, 5);
    for (int i = 0; i < count; ++i) {
        p += sentence(rng);
    }
    return p;
}

DemoBook make_book(const BookSeed& seed, int chapters, bool generated) {
    DemoBook book;
    book.id = seed.id;
    book.title = gbk(seed.title);
    book.author = gbk(seed.author);
    book.status = gbk(seed.status);
    book.update_time = seed.update_time;
    for (const char* s : seed.sentences) {
        if (s != nullptr) {
            book.description_sentences.push_back(gbk(s));
            book.description += book.description_sentences.back();
        }
    }
    book.chapter_count = chapters;
    book.generated = generated;
    return book;
}

} // namespace

DemoLibrary::DemoLibrary(LibraryOptions options) : options_(options) {
    if (options_.scale_chapters < 1) {
        options_.scale_chapters = 1;
    }
    for (const BookSeed& seed : catalogue) {
        books_.push_back(make_book(seed, seed.chapters, false));
    }
    books_.push_back(make_book(scale_seed, options_.scale_chapters, true));
}

std::vector<int> chapter_ids(const DemoBook& book) {
    if (!book.order.empty()) {
        return book.order;
    }
    std::vector<int> ids(static_cast<std::size_t>(book.chapter_count));
    for (int n = 1; n <= book.chapter_count; ++n) {
        ids[static_cast<std::size_t>(n - 1)] = n;
    }
    return ids;
}

const DemoBook* DemoLibrary::find(int id) const {
    for (const DemoBook& book : books_) {
        if (book.id == id) {
            return &book;
        }
    }
    return nullptr;
}

std::vector<const DemoBook*> DemoLibrary::search(std::string_view keyword) const {
    std::vector<std::string> terms;
    for (std::string& piece : split_text(trim_text(keyword), " ")) {
        if (!piece.empty()) {
            terms.push_back(std::move(piece));
        }
    }
    std::vector<const DemoBook*> hits;
    if (terms.empty()) {
        return hits;
    }
    for (const DemoBook& book : books_) {
        bool all = true;
        for (const std::string& term : terms) {
            if (!contains_text(book.title, term) && !contains_text(book.author, term)) {
                all = false;
                break;
            }
        }
        if (all) {
            hits.push_back(&book);
        }
    }
    return hits;
}

std::string DemoLibrary::chapter_name(const DemoBook& book, int number) const {
    Rng rng = chapter_rng(book.id, number);
    return gbk("第") + std::to_string(number) + gbk("章：") + gbk(rng.pick(chapter_titles));
}

std::vector<std::string> DemoLibrary::chapter_paragraphs(const DemoBook& book, int number) const {
    Rng rng = chapter_rng(book.id, number);
    rng.next(); // the first draw of this seed picks the chapter's title
    std::vector<std::string> paragraphs;
    std::string first = rng.pick(subjects_5c);
    first += rng.pick(actions);
    first += rng.pick(endings_7c);
    paragraphs.push_back(gbk(first + paragraph(rng)));

    std::size_t bytes = paragraphs.back().size();
    const int natural = rng.between(5, 8);
    const std::size_t wanted = book.generated ? options_.scale_chapter_bytes : 0;
    for (int i = 1; i < natural || bytes < wanted; ++i) {
        paragraphs.push_back(gbk(paragraph(rng)));
        bytes += paragraphs.back().size();
    }
    if (book.id == markup_book_id && number == 1) {
        paragraphs.push_back(gbk(markup_paragraph.served));
    }
    return paragraphs;
}

std::vector<std::string> DemoLibrary::chapter_text_paragraphs(const DemoBook& book,
                                                              int number) const {
    std::vector<std::string> paragraphs = chapter_paragraphs(book, number);
    if (book.id == markup_book_id && number == 1) {
        paragraphs.back() = gbk(markup_paragraph.read);
    }
    return paragraphs;
}

std::string DemoLibrary::expected_chapter_text(int source, const DemoBook& book, int number) const {
    if (source < 1 || source > 9) {
        return {};
    }
    const ChapterLayout& layout = chapter_layout(source);
    return join_paragraphs(chapter_text_paragraphs(book, number), layout.indent_out,
                           layout.open_out, layout.close_out, layout.separator_out);
}

} // namespace tovani::demo
