// The two containers the library data keeps its rarely used parts in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tlbengine/Boxed.h"
#include "platform/tlbengine/CompactVector.h"

namespace ole {
namespace {

TEST(CompactVector, BehavesAsAVectorAndHoldsNothingWhenEmpty) {
    CompactVector<std::string> v;
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.begin(), v.end());
    EXPECT_THROW(v.at(0), std::out_of_range);
    v.push_back("b");
    v.insert(v.begin(), "a");
    v.emplace_back("d");
    v.insert(v.begin() + 2, "c");
    EXPECT_EQ(std::vector<std::string>(v.begin(), v.end()), (std::vector<std::string>{"a", "b", "c", "d"}));
    auto after = v.erase(v.begin() + 1);
    EXPECT_EQ(*after, "c");
    CompactVector<std::string> copy = v;
    copy[0] = "z";
    EXPECT_EQ(v[0], "a");  // a deep copy
    EXPECT_FALSE(copy == v);
    copy[0] = "a";
    EXPECT_TRUE(copy == v);
    v.erase(v.begin(), v.end());
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.data(), nullptr);  // gives its storage back
    v.assign(2, "x");
    EXPECT_EQ(v.size(), 2u);
    v.resize(0);
    EXPECT_EQ(v.data(), nullptr);
    CompactVector<std::string> moved = std::move(copy);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_EQ(sizeof(CompactVector<std::string>), sizeof(void*));
}

TEST(Boxed, ReadsAsAnOptionalAndAsAListOfAtMostOne) {
    Boxed<std::string> b;
    EXPECT_FALSE(b);
    EXPECT_EQ(b.size(), 0u);
    EXPECT_THROW(b.value(), std::logic_error);
    for (const auto& s : b) ADD_FAILURE() << s;
    b.push_back("x");
    EXPECT_THROW(b.push_back("y"), std::length_error);
    EXPECT_THROW(b.resize(2), std::length_error);
    EXPECT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0], "x");
    EXPECT_THROW(b.at(1), std::out_of_range);
    Boxed<std::string> copy = b;
    *copy = "y";
    EXPECT_EQ(*b, "x");  // a deep copy
    b = std::optional<std::string>();
    EXPECT_FALSE(b.has_value());
    b = std::optional<std::string>("z");
    EXPECT_EQ(b.value(), "z");
    b.resize(0);
    EXPECT_TRUE(b.empty());
    b.resize(1);
    EXPECT_EQ(*b, "");
    EXPECT_EQ(sizeof(Boxed<std::string>), sizeof(void*));
}

}  // namespace
}  // namespace ole
