// A view into a value must not outlive the tree it points into, so every
// method that returns one refuses a temporary. Built once per variant by
// CTest: TAVO_VARIANT 0 takes each view from a named value and must compile;
// every other variant takes one view from a temporary and must be refused.

#include <cstddef>
#include <span>
#include <string_view>

#include "binding/BindingProperty.h"

using Tavo::BindingProperty;

// Only declared: the file is compiled, never linked.
BindingProperty Temporary();

void Views(BindingProperty& value) {
    const BindingProperty& constant = value;
    (void)constant.GetString();
    (void)constant.GetInternedString();
    (void)constant.GetBlob();
    (void)constant.ElementAt(0);
    (void)value.Element(0);
    (void)value.Append();
    (void)constant.Elements();
    (void)constant.Find("a");
    (void)value.Field("a");
    (void)constant.Fields();
#if TAVO_VARIANT == 1
    (void)Temporary().GetString();
#elif TAVO_VARIANT == 2
    (void)Temporary().GetInternedString();
#elif TAVO_VARIANT == 3
    (void)Temporary().GetBlob();
#elif TAVO_VARIANT == 4
    (void)Temporary().ElementAt(0);
#elif TAVO_VARIANT == 5
    (void)Temporary().Element(0);
#elif TAVO_VARIANT == 6
    (void)Temporary().Append();
#elif TAVO_VARIANT == 7
    (void)Temporary().Elements();
#elif TAVO_VARIANT == 8
    (void)Temporary().Find("a");
#elif TAVO_VARIANT == 9
    (void)Temporary().Field("a");
#elif TAVO_VARIANT == 10
    (void)Temporary().Fields();
#endif
}
