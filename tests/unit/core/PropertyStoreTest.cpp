#include "core/PropertyStore.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using stubframework::core::PropertyStore;

TEST(PropertyStoreTest, OrdersByCodeUnitsAndKeepsCasePairsApart) {
    PropertyStore store;
    store.Set("lang", "en");
    store.Set("Lang", "xx");
    store.Set("_x", "1");
    store.Set("lang", "fr");  // overwrite
    const PropertyStore::Entries entries = store.Snapshot();
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        names.push_back(entry.first);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Lang", "_x", "lang"}));
    EXPECT_EQ(store.Get("lang"), "fr");
    EXPECT_EQ(store.Get("Lang"), "xx");
}

TEST(PropertyStoreTest, ReadingAMissingNameAddsItEmpty) {
    PropertyStore store;
    EXPECT_EQ(store.Get("uninstallOption"), "");
    const PropertyStore::Entries entries = store.Snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.at("uninstallOption"), "");
}

TEST(PropertyStoreTest, WorkersAndTheWindowThreadShareItUnderTheTableLock) {
    std::mutex lock;
    PropertyStore store;
    store.AttachLock(&lock);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 500; ++i) {
                store.Set("downloadCurrent", std::to_string(i));
                store.Set("worker" + std::to_string(t) + "_" + std::to_string(i), "v");
                store.Get("downloadCurrent");
                store.Snapshot();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(store.Snapshot().size(), 4u * 500u + 1u);
    EXPECT_EQ(store.Get("downloadCurrent"), "499");
}

}  // namespace
