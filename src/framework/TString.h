#pragma once
// The framework's string: a std::string with the framework's names for what the
// program uses (Data, Length, implicit const char*).
#include <string>
#include <string_view>

#include "RtypesCore.h"

class TString {
public:
    TString() = default;
    TString(const char* s) : fData(s ? s : "") {}
    TString(std::string s) : fData(std::move(s)) {}
    TString(std::string_view s) : fData(s) {}

    const char* Data() const { return fData.c_str(); }
    Ssiz_t Length() const { return static_cast<Ssiz_t>(fData.size()); }
    Bool_t IsNull() const { return fData.empty(); }
    operator const char*() const { return fData.c_str(); }
    std::string_view View() const { return fData; }

    Bool_t BeginsWith(std::string_view s) const { return View().starts_with(s); }
    Bool_t EndsWith(std::string_view s) const { return View().ends_with(s); }
    Bool_t Contains(std::string_view s) const { return fData.find(s) != std::string::npos; }

    TString& operator+=(std::string_view s)
    {
        fData += s;
        return *this;
    }

    friend bool operator==(const TString& a, const TString& b) { return a.fData == b.fData; }
    friend bool operator==(const TString& a, const char* b) { return a.fData == (b ? b : ""); }

private:
    std::string fData;
};
