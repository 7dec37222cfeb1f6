#pragma once
// The framework's basic type names, with the widths the framework gives them.

typedef char Char_t;
typedef unsigned char UChar_t;
typedef short Short_t;
typedef unsigned short UShort_t;
typedef int Int_t;
typedef unsigned int UInt_t;
typedef long long Long64_t;
typedef unsigned long long ULong64_t;
typedef float Float_t;
typedef double Double_t;
typedef bool Bool_t;
typedef const char Option_t;
typedef int Ssiz_t;

constexpr Bool_t kTRUE = true;
constexpr Bool_t kFALSE = false;
constexpr Ssiz_t kNPOS = -1;

#define BIT(n) (1ULL << (n))
