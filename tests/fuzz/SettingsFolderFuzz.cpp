// The settings-folder expansion: any text, any environment, any buffer size. The result is the text with
// its %NAME% references replaced (written here from the expansion's description), or empty and 0 when
// it would not fit or a value is longer than a path.
#include "FuzzSupport.h"
#include "WinShim.h"

#include "install/PathHelpers.h"
#include "install/SettingsFile.h"

#include <vector>

namespace {

const wchar_t* const kNames[] = {L"A", L"APPDATA", L"USERPROFILE", L"LONG"};

struct Variable {
    const wchar_t* name;
    Text value;
};

bool SameName(const std::vector<wchar_t>& name, const wchar_t* variable) {
    size_t i = 0;
    for (; i < name.size() && variable[i] != L'\0'; ++i) {
        wchar_t a = name[i] >= L'a' && name[i] <= L'z' ? (wchar_t)(name[i] - 32) : name[i];
        if (a != variable[i])
            return false;
    }
    return i == name.size() && variable[i] == L'\0';
}

// The expansion without a size bound; false when a referenced value is longer than a path.
bool Expand(const wchar_t* text, const std::vector<Variable>& variables, std::vector<wchar_t>* expanded) {
    bool usable = true;
    for (const wchar_t* p = text; *p != L'\0';) {
        if (*p != L'%') {
            expanded->push_back(*p++);
            continue;
        }
        std::vector<wchar_t> name;
        for (++p; *p != L'\0' && *p != L'%'; ++p)
            name.push_back(*p);
        if (*p == L'%')
            ++p;
        for (const Variable& variable : variables) {
            if (!SameName(name, variable.name))
                continue;
            size_t length = Length(variable.value.get());
            usable = usable && length < kPathChars;
            expanded->insert(expanded->end(), variable.value.get(), variable.value.get() + length);
        }
    }
    return usable;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShimReset();
    FuzzedDataProvider in(data, size);
    size_t expandedChars = in.ConsumeIntegralInRange<size_t>(0, 600);
    std::vector<Variable> variables;
    for (const wchar_t* name : kNames) {
        if (!in.ConsumeBool())
            continue;
        variables.push_back(Variable{name, NewText(in.ConsumeRandomLengthString(700))});
        ShimSetVariable(name, variables.back().value.get());
    }
    Text text = NewText(in.ConsumeRemainingBytesAsString());

    Text expanded((wchar_t*)malloc(expandedChars * sizeof(wchar_t)));
    int fits = ExpandSettingsFolder(text.get(), expanded.get(), expandedChars);
    std::vector<wchar_t> expected;
    bool usable = Expand(text.get(), variables, &expected);
    size_t capacity = expandedChars < kExpandedFolderChars ? expandedChars : kExpandedFolderChars;
    FUZZ_CHECK(fits == (usable && expected.size() < capacity));
    if (fits) {
        expected.push_back(L'\0');
        FUZZ_CHECK(Same(expanded.get(), expected.data()));
    } else if (expandedChars > 0) {
        FUZZ_CHECK(expanded[0] == L'\0');
    }
    return 0;
}
