#include "binding/BindingStructureAssembler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingPropertyArena.h"
#include "detail/BindingPropertyAccess.h"

namespace {

using Tavo::BindingProperty;
using Tavo::BindingStructureAssembler;
using Kind = Tavo::BindingProperty::Kind;

// Names that share long prefixes, differ only in length, hold a NUL or
// bytes above 0x7F, or are empty: every way two keys can order.
std::vector<std::string> NamePool() {
    std::vector<std::string> names = {"",
                                      "a",
                                      "B",
                                      "b",
                                      "ab",
                                      std::string("a\0b", 3),
                                      "\xC3\xA9t\xC3\xA9",
                                      "profile_background_color",
                                      "profile_background_image_url",
                                      "profile_background_image_url_https",
                                      "id",
                                      "id_str"};
    for (int i = 0; i < 90; ++i) {
        names.push_back("k" + std::to_string(i * 7919 % 1000));
    }
    return names;
}

// Fills `value` twice from one random script: through the assembler into
// `gathered`, and field by field into `direct`. Nested structures and
// repeated names are part of the script.
void FillBoth(std::mt19937& random, const std::vector<std::string>& names,
              BindingStructureAssembler& assembler, BindingProperty& gathered,
              BindingProperty& direct, int depth) {
    assembler.Open(gathered);
    direct.MakeStructure();
    // Mostly record-sized structures, some beyond what is gathered.
    const int fields =
        random() % 8 == 0 ? 40 + static_cast<int>(random() % 60) : static_cast<int>(random() % 12);
    // A narrow slice of the pool repeats shapes and names.
    const std::size_t window = random() % 2 == 0 ? 12 : names.size();
    for (int i = 0; i < fields; ++i) {
        const std::string& name = names[random() % window];
        BindingProperty& a = assembler.Field(name);
        BindingProperty& b = direct.Field(name);
        if (depth < 3 && random() % 6 == 0) {
            FillBoth(random, names, assembler, a, b, depth + 1);
        } else {
            const auto number = static_cast<std::int64_t>(random() % 1000);
            a.SetSigned(number);
            b.SetSigned(number);
        }
    }
    assembler.Close();
}

void ExpectOrderedAndFindable(const BindingProperty& value) {
    if (value.GetKind() != Kind::Structure) {
        return;
    }
    std::string previous;
    bool first = true;
    std::size_t count = 0;
    for (const auto& field : value.Fields()) {
        const std::string key(field.key.View());
        if (!first) {
            EXPECT_LT(previous, key);  // std::string compares as unsigned bytes
        }
        EXPECT_EQ(&value.Find(key), &field.value) << key;
        ExpectOrderedAndFindable(field.value);
        previous = key;
        first = false;
        ++count;
    }
    EXPECT_EQ(count, value.Size());
}

TEST(BindingStructureAssembler, BuildsTheSameTreeAsFieldByField) {
    const std::vector<std::string> names = NamePool();
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        BindingProperty gathered;
        BindingProperty direct;
        gathered.MakeCollection();
        direct.MakeCollection();
        BindingStructureAssembler assembler;
        // Several records in one tree, so remembered orders are reused.
        for (int record = 0; record < 6; ++record) {
            FillBoth(random, names, assembler, gathered.Append(), direct.Append(), 0);
        }
        assembler.CloseAll();
        ASSERT_EQ(gathered, direct) << "seed " << seed;
        for (const BindingProperty& element : gathered.Elements()) {
            ExpectOrderedAndFindable(element);
        }
    }
}

TEST(BindingStructureAssembler, RepeatedNameGivesTheFieldMadeBefore) {
    struct Case {
        const char* name;
        std::size_t before;  // distinct names added before the repeat
        bool existing;       // the structure had fields when opened
    };
    for (const Case& c :
         {Case{"while gathering", 3, false}, Case{"after linking a large structure", 80, false},
          Case{"in a structure opened with fields", 3, true}}) {
        BindingProperty value;
        if (c.existing) {
            value.Field("x").SetSigned(std::int64_t{7});
        }
        BindingStructureAssembler assembler;
        assembler.Open(value);
        BindingProperty& first = assembler.Field("x");
        if (!c.existing) {
            first.SetSigned(std::int64_t{7});
        }
        for (std::size_t i = 0; i < c.before; ++i) {
            assembler.Field("f" + std::to_string(i)).SetSigned(std::int64_t{1});
        }
        BindingProperty& again = assembler.Field("x");
        EXPECT_EQ(&again, &first) << c.name;
        EXPECT_EQ(again.GetSigned(), 7) << c.name;
        assembler.Close();
        EXPECT_EQ(value.Size(), c.before + 1) << c.name;
        EXPECT_EQ(&value.Find("x"), &first) << c.name;
    }
}

TEST(BindingStructureAssembler, ClosingLinksWhatIsOpenAndDropsItsReferences) {
    BindingProperty root;
    root.MakeCollection();
    {
        BindingStructureAssembler assembler;
        for (int record = 0; record < 3; ++record) {
            assembler.Open(root.Append());
            assembler.Field("name").SetString("n");
            assembler.Field("id").SetSigned(std::int64_t{record});
            assembler.Close();
        }
        // Left open: the destructor links it.
        assembler.Open(root.Append());
        assembler.Field("inner");
        assembler.Open(assembler.Field("inner"));
        assembler.Field("z").SetBool(true);
    }
    ASSERT_EQ(root.Size(), 4u);
    EXPECT_EQ(root.ElementAt(2).Find("id").GetSigned(), 2);
    EXPECT_TRUE(root.ElementAt(3).Find("inner").Find("z").GetBool());
    // The remembered orders held the names; with the tree's own uses gone,
    // no text may stay interned.
    for (BindingProperty& element : root.Elements()) {
        element.Clear();
    }
    EXPECT_EQ(Tavo::detail::BindingPropertyAccess::ArenaOf(root).ReadStats().strings, 0u);
}

}  // namespace
