#include "sources/sites_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace tovani {
namespace {

struct FakeEnv {
    std::map<std::string, std::string> vars;
    std::function<const char*(const char*)> getenv() {
        return [this](const char* name) -> const char* {
            auto it = vars.find(name);
            return it == vars.end() ? nullptr : it->second.c_str();
        };
    }
};

class SitesConfig : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("tovani-sites-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "tovani");
        env.vars["XDG_CONFIG_HOME"] = dir.string();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void write_ini(const std::string& text) { std::ofstream(dir / "tovani" / "sites.ini") << text; }

    std::filesystem::path dir;
    FakeEnv env;
};

TEST_F(SitesConfig, EnvironmentBeatsFileBeatsDefault) {
    write_ini("; comment\n[other]\n1 = ignored:1\n[hosts]\n2 = file.test:8080\n3=file3.test\n");
    env.vars["TOVANI_SITE_HOST_3"] = "env.test";
    const SitesLoad load = load_sites(env.getenv());
    ASSERT_TRUE(load.sites) << load.error;
    const Sites& s = *load.sites;
    EXPECT_EQ(s.site_root(1), "https://" + default_host(1));
    EXPECT_EQ(s.origin(1), "built-in default");
    EXPECT_EQ(s.site_root(2), "http://file.test:8080");
    EXPECT_NE(s.origin(2).find("sites.ini"), std::string::npos);
    EXPECT_EQ(s.site_root(3), "http://env.test");
    EXPECT_EQ(s.origin(3), "environment TOVANI_SITE_HOST_3");
    EXPECT_EQ(s.site_root(8).rfind("https://", 0), 0u);
    EXPECT_EQ(s.site_root(9), "");
}

TEST_F(SitesConfig, MalformedValuesNameTheirKeyAndOrigin) {
    env.vars["TOVANI_SITE_HOST_4"] = "https://x.test/path";
    SitesLoad load = load_sites(env.getenv());
    EXPECT_FALSE(load.sites);
    EXPECT_NE(load.error.find("TOVANI_SITE_HOST_4"), std::string::npos) << load.error;

    env.vars.erase("TOVANI_SITE_HOST_4");
    write_ini("[hosts]\n5 = bad host\n");
    load = load_sites(env.getenv());
    EXPECT_FALSE(load.sites);
    EXPECT_NE(load.error.find("[hosts] 5"), std::string::npos) << load.error;

    write_ini("[hosts]\n9 = x.test\n");
    load = load_sites(env.getenv());
    EXPECT_FALSE(load.sites);
    EXPECT_NE(load.error.find("line 2"), std::string::npos) << load.error;
}

TEST(HostValidation, Table) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"example.com", true},   {"127.0.0.1:18082", true}, {"[::1]:8080", true},
        {"[::1]", true},         {"a-b.c", true},           {"", false},
        {"x.test:0", false},     {"x.test:65536", false},   {"x.test:", false},
        {"http://x.test", false}, {"x.test/p", false},      {"x test", false},
        {"x..test", false},      {"[::1", false},           {"x.test:80:80", false},
    };
    for (const auto& [value, valid] : cases) {
        EXPECT_EQ(is_valid_host(value), valid) << value;
    }
}

} // namespace
} // namespace tovani
