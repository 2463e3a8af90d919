// Short forms of the registry calls the registry tests make again and again,
// the same on both systems.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"

namespace stubtest {

class RegistryCalls {
protected:
    using Key = stubframework::platform::registry::Key;
    using Root = stubframework::platform::registry::Root;
    using View = stubframework::platform::registry::View;
    using Access = stubframework::platform::registry::Access;

    static Key Create(Root root, const std::string& path, View view = View::Default) {
        Key key;
        EXPECT_EQ(stubframework::platform::registry::CreateKey(root, path, view, key),
                  stubframework::platform::kErrorSuccess)
            << path;
        return key;
    }

    static std::uint32_t Open(Root root, const std::string& path, View view, Key& key,
                              Access access = Access::Read) {
        return stubframework::platform::registry::OpenKey(root, path, view, access, key);
    }

    static void SetText(const Key& key, const std::string& name, const std::string& text) {
        namespace reg = stubframework::platform::registry;
        ASSERT_EQ(reg::SetValue(key, name, reg::kRegSz, reg::TextData(text)),
                  stubframework::platform::kErrorSuccess);
    }

    static std::optional<std::string> GetText(const Key& key, const std::string& name) {
        namespace reg = stubframework::platform::registry;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (reg::QueryValue(key, name, type, data) != stubframework::platform::kErrorSuccess) {
            return std::nullopt;
        }
        return reg::DataText(data);
    }

    // Every subkey name (or value name), and a listing that ends as it should.
    static std::vector<std::string> SubKeys(const Key& key) {
        return Names(key, [](const Key& from, std::uint32_t index, std::string& name) {
            return stubframework::platform::registry::EnumKey(from, index, name);
        });
    }
    static std::vector<std::string> ValueNames(const Key& key) {
        return Names(key, [](const Key& from, std::uint32_t index, std::string& name) {
            return stubframework::platform::registry::EnumValue(from, index, name);
        });
    }

private:
    template <class Enumerate>
    static std::vector<std::string> Names(const Key& key, Enumerate enumerate) {
        std::vector<std::string> names;
        std::string name;
        std::uint32_t error = 0;
        while ((error = enumerate(key, static_cast<std::uint32_t>(names.size()), name)) ==
               stubframework::platform::kErrorSuccess) {
            names.push_back(name);
        }
        EXPECT_EQ(error, stubframework::platform::kErrorNoMoreItems);
        return names;
    }
};

}  // namespace stubtest
