// The two containers the library data keeps its rarely used parts in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tlbengine/Boxed.h"
#include "platform/tlbengine/CompactVector.h"
#include "platform/tlbengine/TypeLibData.h"

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


// A fixed array's bounds are kept with its element type: setting either
// first keeps the other, copies carry both, and nothing else has any.
TEST(TypeDescData, AFixedArrayKeepsItsBoundsWithItsElement) {
    EXPECT_EQ(sizeof(TypeDescData), 16u);
    TypeDescData plain;
    plain.vt = VT_I4;
    EXPECT_TRUE(plain.Bounds().empty());
    EXPECT_TRUE(plain.element.empty());

    TypeDescData grid;
    grid.vt = VT_CARRAY;
    grid.MutableBounds() = {SAFEARRAYBOUND{3, 0}, SAFEARRAYBOUND{4, 1}};
    TypeDescData pointer;
    pointer.vt = VT_PTR;
    pointer.SetElement(plain);
    grid.SetElement(pointer);
    ASSERT_EQ(grid.Bounds().size(), 2u);
    EXPECT_EQ(grid.Bounds()[1].lLbound, 1);
    EXPECT_EQ(grid.element[0].vt, VT_PTR);
    EXPECT_TRUE(grid.element[0].Bounds().empty());
    EXPECT_EQ(grid.element[0].element[0].vt, VT_I4);

    TypeDescData other;
    other.vt = VT_CARRAY;
    other.SetElement(plain);
    other.MutableBounds().push_back(SAFEARRAYBOUND{7, 0});
    EXPECT_EQ(other.element[0].vt, VT_I4);
    EXPECT_EQ(other.Bounds().size(), 1u);

    const TypeDescData copy = grid;
    grid.MutableBounds().clear();
    grid.element[0].element.clear();
    ASSERT_EQ(copy.Bounds().size(), 2u);
    EXPECT_EQ(copy.Bounds()[0].cElements, 3u);
    EXPECT_EQ(copy.element[0].element[0].vt, VT_I4);
    // An element taken out as a type of its own leaves the array's bounds behind.
    const TypeDescData element = copy.element[0];
    EXPECT_TRUE(element.Bounds().empty());
    EXPECT_EQ(element.vt, VT_PTR);
}

}  // namespace
}  // namespace ole
