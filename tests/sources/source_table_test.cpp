#include "sources/source_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "sources/builtin_rules.h"

namespace tovani {
namespace {

struct FakeEnv {
    std::map<std::string, std::string> vars;
    Getenv getenv() {
        return [this](const char* name) -> const char* {
            auto it = vars.find(name);
            return it == vars.end() ? nullptr : it->second.c_str();
        };
    }
};

class SourceTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            std::filesystem::temp_directory_path() /
            ("tovani-sources-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "tovani" / "sources.d");
        env.vars["XDG_CONFIG_HOME"] = dir.string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void write_ini(const std::string& text) { std::ofstream(dir / "tovani" / "sites.ini") << text; }
    void write_rule(const std::string& name, const std::string& text) {
        std::ofstream(dir / "tovani" / "sources.d" / name) << text;
    }
    // The text of bundled rule `file` with `from` replaced by `to`.
    static std::string bundled(const std::string& file, const std::string& from = {},
                               const std::string& to = {}) {
        for (const BuiltinRuleFile& f : builtin_rule_files()) {
            if (f.name == file) {
                std::string text(f.text);
                if (!from.empty()) {
                    const auto at = text.find(from);
                    EXPECT_NE(at, std::string::npos) << from;
                    text.replace(at, from.size(), to);
                }
                return text;
            }
        }
        ADD_FAILURE() << "no bundled " << file;
        return {};
    }

    std::filesystem::path dir;
    FakeEnv env;
};

TEST_F(SourceTableTest, EightBuiltInSourcesWithTheirRuleHosts) {
    const SourceTable t = load_source_table(env.getenv());
    EXPECT_TRUE(t.problems().empty());
    ASSERT_EQ(t.sources().size(), 8u);
    for (int id = 1; id <= 8; ++id) {
        const BookSource* s = t.find(id);
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(s->usable()) << s->host_error;
        EXPECT_EQ(s->rule_origin, "built-in 0" + std::to_string(id) + ".toml");
        EXPECT_EQ(s->site_root().rfind(id == 1 || id == 4 || id == 8 ? "https://127.0.0.1:"
                                                                     : "http://127.0.0.1:",
                                       0),
                  0u)
            << s->site_root();
    }
    EXPECT_EQ(t.find(9), nullptr);
}

TEST_F(SourceTableTest, EnvironmentBeatsFileBeatsRule) {
    write_ini("; comment\n[other]\n1 = ignored:1\n[hosts]\n2 = file.test:8080\n3=file3.test\n");
    env.vars["TOVANI_SITE_HOST_3"] = "env.test";
    const SourceTable t = load_source_table(env.getenv());
    EXPECT_EQ(t.find(1)->host, "127.0.0.1:18441");
    EXPECT_EQ(t.find(1)->host_origin, "rule built-in 01.toml");
    EXPECT_EQ(t.find(2)->site_root(), "http://file.test:8080");
    EXPECT_NE(t.find(2)->host_origin.find("sites.ini"), std::string::npos);
    EXPECT_EQ(t.find(3)->site_root(), "http://env.test");
    EXPECT_EQ(t.find(3)->host_origin, "environment TOVANI_SITE_HOST_3");
}

// One bad value costs its own source and nothing else.
TEST_F(SourceTableTest, ABadHostAffectsItsSourceAlone) {
    env.vars["TOVANI_SITE_HOST_2"] = "http://foo";
    write_ini("[hosts]\n5 = bad host\nnot a line\n99 = x.test\n");
    const SourceTable t = load_source_table(env.getenv());
    ASSERT_EQ(t.sources().size(), 8u);
    EXPECT_FALSE(t.find(2)->usable());
    EXPECT_NE(t.find(2)->host_error.find("TOVANI_SITE_HOST_2"), std::string::npos)
        << t.find(2)->host_error;
    EXPECT_FALSE(t.find(5)->usable());
    EXPECT_NE(t.find(5)->host_error.find("[hosts] 5"), std::string::npos) << t.find(5)->host_error;
    for (int id : {1, 3, 4, 6, 7, 8}) {
        EXPECT_TRUE(t.find(id)->usable()) << id;
    }
    ASSERT_EQ(t.problems().size(), 2u);
    EXPECT_NE(t.problems()[0].find("line 3"), std::string::npos) << t.problems()[0];
    EXPECT_NE(t.problems()[1].find("line 4"), std::string::npos) << t.problems()[1];
}

TEST_F(SourceTableTest, UserRulesReplaceAndAdd) {
    write_rule("a-override.toml", bundled("03.toml", "name = \"书源三\"", "name = \"我的三\""));
    write_rule("b-new.toml", bundled("07.toml", "id = 7", "id = 12"));
    write_rule("c-broken.toml", bundled("06.toml", "id = 6", "id = 13") + "\nbogus = 1\n");
    write_rule("d-same-id.toml", bundled("07.toml", "id = 7", "id = 12"));
    write_rule("notes.txt", "not a rule");
    env.vars["TOVANI_SITE_HOST_12"] = "twelve.test";
    const SourceTable t = load_source_table(env.getenv());

    ASSERT_EQ(t.sources().size(), 9u);
    EXPECT_EQ(t.find(3)->rule.name, "我的三");
    EXPECT_NE(t.find(3)->rule_origin.find("a-override.toml"), std::string::npos);
    EXPECT_EQ(t.find(3)->host, "127.0.0.1:18083") << "the rule's host";
    const BookSource* added = t.find(12);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->site_root(), "http://twelve.test");
    EXPECT_EQ(added->rule.search, t.find(7)->rule.search);
    EXPECT_EQ(t.find(13), nullptr);

    ASSERT_EQ(t.problems().size(), 2u);
    EXPECT_NE(t.problems()[0].find("c-broken.toml"), std::string::npos);
    EXPECT_NE(t.problems()[0].find("bogus: unknown key"), std::string::npos) << t.problems()[0];
    EXPECT_NE(t.problems()[1].find("already taken"), std::string::npos) << t.problems()[1];
}

TEST_F(SourceTableTest, AnAddedSourceWithoutAHostIsUnusable) {
    std::string text = bundled("05.toml", "host = \"127.0.0.1:18085\"\n", "");
    text.replace(text.find("id = 5"), 6, "id = 40");
    write_rule("x.toml", text);
    const SourceTable t = load_source_table(env.getenv());
    const BookSource* s = t.find(40);
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->usable());
    EXPECT_NE(s->host_error.find("TOVANI_SITE_HOST_40"), std::string::npos) << s->host_error;
}

TEST(HostValidation, Table) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"example.com", true},    {"127.0.0.1:18082", true}, {"[::1]:8080", true},
        {"[::1]", true},          {"a-b.c", true},           {"", false},
        {"x.test:0", false},      {"x.test:65536", false},   {"x.test:", false},
        {"http://x.test", false}, {"x.test/p", false},       {"x test", false},
        {"x..test", false},       {"[::1", false},           {"x.test:80:80", false},
    };
    for (const auto& [value, valid] : cases) {
        EXPECT_EQ(is_valid_host(value), valid) << value;
    }
}

} // namespace
} // namespace tovani
