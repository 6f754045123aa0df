#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "binding/BindingProperty.h"

// Trees from outside input can be nested far deeper than any reader allows:
// every operation that walks a tree must do so without using the call stack.

namespace {

using Tavo::BindingProperty;

// Nests `depth` containers, alternating collections and structures when
// `mixed`, with a string at the bottom.
void BuildNested(BindingProperty& root, std::size_t depth, bool mixed) {
    BindingProperty* current = &root;
    for (std::size_t level = 0; level < depth; ++level) {
        current = (mixed && level % 2 == 1) ? &current->Field("next") : &current->Append();
    }
    current->SetString("bottom");
}

std::size_t MeasureDepth(const BindingProperty& root) {
    std::size_t depth = 0;
    const BindingProperty* current = &root;
    while (current->Size() == 1 && current->GetKind() != BindingProperty::Kind::String) {
        current = current->GetKind() == BindingProperty::Kind::Collection ? &current->ElementAt(0)
                                                                          : &current->Find("next");
        ++depth;
    }
    EXPECT_EQ(current->GetString(), "bottom");
    return depth;
}

class CountingVisitor : public Tavo::BindingPropertyVisitor {
public:
    std::size_t begins = 0;
    std::size_t ends = 0;
    std::size_t strings = 0;
    void VisitEmpty() override {}
    void VisitBool(bool) override {}
    void VisitSigned(std::int64_t) override {}
    void VisitUnsigned(std::uint64_t) override {}
    void VisitFloat(double) override {}
    void VisitString(const Tavo::BindingInternedString&) override { ++strings; }
    void VisitBlob(std::span<const std::uint8_t>) override {}
    void VisitEnum(const Tavo::BindingEnumPayload&) override {}
    void BeginCollection(std::size_t) override { ++begins; }
    void BeginElement(std::size_t) override {}
    void EndElement(std::size_t) override {}
    void EndCollection() override { ++ends; }
    void BeginStructure(std::size_t) override { ++begins; }
    void BeginField(const Tavo::BindingInternedString&) override {}
    void EndField(const Tavo::BindingInternedString&) override {}
    void EndStructure() override { ++ends; }
};

TEST(BindingPropertyDepth, DeepTreesCopyVisitCompareClearAndDrop) {
    struct Row {
        std::size_t depth;
        bool mixed;
    };
    const Row rows[] = {{5000, false}, {5000, true}, {100000, false}, {100000, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.depth) + (row.mixed ? " mixed" : " collections"));
        BindingProperty tree;
        BuildNested(tree, row.depth, row.mixed);

        BindingProperty copy(tree);
        EXPECT_EQ(MeasureDepth(copy), row.depth);
        EXPECT_TRUE(copy == tree);

        CountingVisitor visitor;
        copy.Accept(visitor);
        EXPECT_EQ(visitor.begins, row.depth);
        EXPECT_EQ(visitor.ends, row.depth);
        EXPECT_EQ(visitor.strings, 1u);

        // Into a child of another tree, then cleared there (a child's release walk).
        BindingProperty holder;
        holder.Append() = tree;
        EXPECT_EQ(MeasureDepth(holder.ElementAt(0)), row.depth);
        holder.Element(0).Clear();
        EXPECT_TRUE(holder.ElementAt(0).IsEmpty());

        // A setter on a deep root releases the old tree in place.
        copy.SetString("flat");
        EXPECT_EQ(copy.GetString(), "flat");
        // `tree` is dropped whole at the end of the scope.
    }
}

}  // namespace
