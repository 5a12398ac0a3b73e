#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "archive/PasswordCache.h"

TEST(PasswordCache, KeysAreExactAndTheFirstPasswordStays) {
    PasswordCache cache;
    EXPECT_EQ(cache.Find(u"C:\\a.zip"), nullptr);
    cache.Remember(u"C:\\a.zip", "first");
    cache.Remember(u"C:\\a.zip", "second");
    ASSERT_NE(cache.Find(u"C:\\a.zip"), nullptr);
    EXPECT_STREQ(cache.Find(u"C:\\a.zip"), "first");
    EXPECT_EQ(cache.Find(u"C:\\A.zip"), nullptr);
    cache.Remember(u"C:\\b.zip", "");
    ASSERT_NE(cache.Find(u"C:\\b.zip"), nullptr);
    EXPECT_STREQ(cache.Find(u"C:\\b.zip"), "");
}

TEST(PasswordCache, ReplaceKeepsTheOldTextAlive) {
    PasswordCache cache;
    cache.Remember(u"p", "old");
    const char* old = cache.Find(u"p");
    cache.Replace(u"p", "new");
    EXPECT_STREQ(cache.Find(u"p"), "new");
    EXPECT_STREQ(old, "old");  // another open may still be offering it
}

TEST(PasswordCache, ConcurrentFindAndRemember) {
    PasswordCache cache;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                const std::u16string path = u"archive" + std::u16string(1, char16_t(u'a' + i % 20));
                cache.Remember(path, "pw" + std::to_string(t));
                const char* found = cache.Find(path);
                ASSERT_NE(found, nullptr);
                EXPECT_EQ(std::string(found).substr(0, 2), "pw");
            }
        });
    }
    for (auto& thread : threads) thread.join();
}
