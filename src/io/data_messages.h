// Catalogue texts of the data set messages (group kGroupHostData).
#pragma once

namespace velloc::host {

// Adds the texts of group kGroupHostData to the catalogue. Safe to call more than once.
void addDataSetMessages();

// Message numbers of group kGroupHostData.
namespace datamsg {
inline constexpr int kCannotOpen = 1;
inline constexpr int kEmpty = 2;
inline constexpr int kRagged = 3;
inline constexpr int kUnterminatedQuote = 4;
inline constexpr int kDuplicateName = 5;
inline constexpr int kInvalidName = 6;
inline constexpr int kReadError = 7;
inline constexpr int kSchemaJson = 8;
inline constexpr int kSchemaUnknownVar = 9;
inline constexpr int kSchemaFormat = 10;
inline constexpr int kSchemaType = 11;
inline constexpr int kSchemaLayout = 12;
inline constexpr int kNotANumber = 13;
inline constexpr int kNotSorted = 14;
inline constexpr int kChanged = 15;
inline constexpr int kOutCreate = 16;
inline constexpr int kOutCommit = 17;
inline constexpr int kSchemaUnreadable = 18;
inline constexpr int kOutSchema = 19;
inline constexpr int kUnknownLibrary = 20;
inline constexpr int kOutDuplicateName = 400;
inline constexpr int kRowNames = 500;
inline constexpr int kReadAsCp1252 = 501;
inline constexpr int kTextInNumeric = 502;
inline constexpr int kStatCannotRead = 503;
inline constexpr int kStatSignature = 504;
inline constexpr int kStatWrite = 505;
inline constexpr int kStatWriteValue = 506;
inline constexpr int kStatNotSorted = 507;
inline constexpr int kDialectNotText = 508;
inline constexpr int kNotUtf8 = 509;
inline constexpr int kBadDelimiter = 510;
inline constexpr int kBadEncoding = 511;
inline constexpr int kLabelsNotKept = 512;
inline constexpr int kInfiniteInNumeric = 513;
} // namespace datamsg

} // namespace velloc::host
