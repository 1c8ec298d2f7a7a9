// The worksheet functions by their Ftab numbers: names and argument counts of all, implementations of those evaluated here.
#pragma once

#include <cstdint>
#include <string>

namespace skov::xls::calc {

class Call;
struct Value;

struct FunctionInfo {
  uint16_t id;
  const char* name;
  uint8_t minArgs, maxArgs;
};

// The Ftab entry of a function number; null for a number the table lacks.
const FunctionInfo* FindFunction(uint16_t id);
// "SUM", or "Funktion 400" for a number the table lacks.
std::u16string FunctionName(uint16_t id);

using FunctionImpl = Value (*)(Call&);
// Null for a function not evaluated here. IF, CHOOSE and IFERROR, which
// evaluate only the arguments they take, are the evaluator's own.
FunctionImpl Implementation(uint16_t id);

// Whether a function reads cells its arguments do not name (INDIRECT,
// OFFSET): its formula depends on whatever was written.
bool ReadsAnyCell(uint16_t id);
// Whether Excel recalculates a function's formula on every load (NOW, RAND).
bool IsVolatile(uint16_t id);

// Function numbers the evaluator and the dependency walk single out.
namespace fn {
constexpr uint16_t kCount = 0;
constexpr uint16_t kIf = 1;
constexpr uint16_t kIsNa = 2;
constexpr uint16_t kIsError = 3;
constexpr uint16_t kSum = 4;
constexpr uint16_t kAverage = 5;
constexpr uint16_t kMin = 6;
constexpr uint16_t kMax = 7;
constexpr uint16_t kRow = 8;
constexpr uint16_t kColumn = 9;
constexpr uint16_t kNa = 10;
constexpr uint16_t kPi = 19;
constexpr uint16_t kSqrt = 20;
constexpr uint16_t kAbs = 24;
constexpr uint16_t kInt = 25;
constexpr uint16_t kSign = 26;
constexpr uint16_t kRound = 27;
constexpr uint16_t kIndex = 29;
constexpr uint16_t kRept = 30;
constexpr uint16_t kMid = 31;
constexpr uint16_t kLen = 32;
constexpr uint16_t kValue = 33;
constexpr uint16_t kTrue = 34;
constexpr uint16_t kFalse = 35;
constexpr uint16_t kAnd = 36;
constexpr uint16_t kOr = 37;
constexpr uint16_t kNot = 38;
constexpr uint16_t kMod = 39;
constexpr uint16_t kText = 48;
constexpr uint16_t kRand = 63;
constexpr uint16_t kMatch = 64;
constexpr uint16_t kNow = 74;
constexpr uint16_t kRows = 76;
constexpr uint16_t kColumns = 77;
constexpr uint16_t kOffset = 78;
constexpr uint16_t kSearch = 82;
constexpr uint16_t kChoose = 100;
constexpr uint16_t kHLookup = 101;
constexpr uint16_t kVLookup = 102;
constexpr uint16_t kChar = 111;
constexpr uint16_t kLower = 112;
constexpr uint16_t kUpper = 113;
constexpr uint16_t kLeft = 115;
constexpr uint16_t kRight = 116;
constexpr uint16_t kExact = 117;
constexpr uint16_t kTrim = 118;
constexpr uint16_t kSubstitute = 120;
constexpr uint16_t kCode = 121;
constexpr uint16_t kFind = 124;
constexpr uint16_t kCell = 125;
constexpr uint16_t kIsErr = 126;
constexpr uint16_t kIsText = 127;
constexpr uint16_t kIsNumber = 128;
constexpr uint16_t kIsBlank = 129;
constexpr uint16_t kT = 130;
constexpr uint16_t kN = 131;
constexpr uint16_t kIndirect = 148;
constexpr uint16_t kProduct = 183;
constexpr uint16_t kIsNonText = 190;
constexpr uint16_t kTrunc = 197;
constexpr uint16_t kIsLogical = 198;
constexpr uint16_t kRoundUp = 212;
constexpr uint16_t kRoundDown = 213;
constexpr uint16_t kToday = 221;
constexpr uint16_t kSumProduct = 228;
constexpr uint16_t kInfo = 244;
constexpr uint16_t kUserDefined = 255;  // the function's name is the first argument
constexpr uint16_t kConcatenate = 336;
constexpr uint16_t kPower = 337;
constexpr uint16_t kSumIf = 345;
constexpr uint16_t kCountIf = 346;
constexpr uint16_t kCountBlank = 347;
constexpr uint16_t kCountA = 169;
}  // namespace fn

}  // namespace skov::xls::calc
