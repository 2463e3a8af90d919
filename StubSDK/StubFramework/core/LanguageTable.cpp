#include "core/LanguageTable.h"

#include <array>
#include <utility>

namespace stubframework::core {
namespace {

constexpr std::array<Language, kLanguageCount> kLanguages{{
    {"other", "Other"},
    {"en", "English"},
    {"fr", "French"},
    {"de", "German"},
    {"it", "Italian"},
    {"jp", "Japanese"},
    {"es", "Spanish"},
    {"pt", "Portuguese"},
    {"nl", "Dutch"},
    {"ko", "Korean"},
    {"ru", "Russian"},
    {"cs", "Czech"},
    {"zh", "Simplified Chinese"},
    {"tw", "Traditional Chinese"},
    {"af", "Afrikaans"},
    {"sq", "Albanian"},
    {"am", "Amharic"},
    {"ar", "Arabic"},
    {"hy", "Armenian"},
    {"as", "Assamese"},
    {"ba", "Bashkir"},
    {"eu", "Basque"},
    {"be", "Belarusian"},
    {"bn", "Bengali"},
    {"br", "Breton"},
    {"bs", "Bosnian"},
    {"bg", "Bulgarian"},
    {"ca", "Catalan"},
    {"co", "Corsican"},
    {"hr", "Croatian"},
    {"da", "Danish"},
    {"dv", "Divehi"},
    {"et", "Estonian"},
    {"fi", "Finnish"},
    {"fy", "Frisian"},
    {"gl", "Galician"},
    {"ka", "Georgian"},
    {"el", "Greek"},
    {"kl", "Greenlandic"},
    {"gu", "Gujarati"},
    {"ha", "Hausa"},
    {"he", "Hebrew"},
    {"hi", "Hindi"},
    {"hu", "Hungarian"},
    {"is", "Icelandic"},
    {"ig", "Igbo"},
    {"id", "Indonesian"},
    {"iu", "Inuktitut"},
    {"ga", "Irish"},
    {"kn", "Kannada"},
    {"ks", "Kashmiri"},
    {"kk", "Kazakh"},
    {"km", "Khmer"},
    {"rw", "Kinyarwanda"},
    {"ky", "Kyrgyz"},
    {"lo", "Lao"},
    {"lv", "Latvian"},
    {"lt", "Lithuanian"},
    {"lb", "Luxembourgish"},
    {"mk", "Macedonian"},
    {"ms", "Malay"},
    {"ml", "Malayalam"},
    {"mt", "Maltese"},
    {"mi", "Maori"},
    {"mr", "Marathi"},
    {"mn", "Mongolian"},
    {"ne", "Nepali"},
    {"no", "Norwegian"},
    {"oc", "Occitan"},
    {"or", "Oriya"},
    {"ps", "Pashto"},
    {"fa", "Persian"},
    {"pl", "Polish"},
    {"pa", "Punjabi"},
    {"qu", "Quechua"},
    {"ro", "Romanian"},
    {"rm", "Romansh"},
    {"se", "Sami"},
    {"sa", "Sanskrit"},
    {"gd", "Scottish Gaelic"},
    {"sr", "Serbian"},
    {"sd", "Sindhi"},
    {"si", "Sinhalese"},
    {"sk", "Slovak"},
    {"sl", "Slovenian"},
    {"st", "Sotho"},
    {"sw", "Swahili"},
    {"sv", "Swedish"},
    {"tg", "Tajik"},
    {"ta", "Tamil"},
    {"tt", "Tatar"},
    {"te", "Telugu"},
    {"th", "Thai"},
    {"bo", "Tibetan"},
    {"tn", "Tswana"},
    {"tr", "Turkish"},
    {"tk", "Turkmen"},
    {"ug", "Uighur"},
    {"uk", "Ukrainian"},
    {"ur", "Urdu"},
    {"uz", "Uzbek"},
    {"vi", "Vietnamese"},
    {"cy", "Welsh"},
    {"wo", "Wolof"},
    {"xh", "Xhosa"},
    {"yi", "Yiddish"},
    {"yo", "Yoruba"},
    {"zu", "Zulu"},
}};

// Full ids that pick a row of their own before the primary language decides.
constexpr std::pair<std::uint16_t, int> kExactIds[] = {
    {1028, 13}, {1029, 11}, {1031, 3},  {1033, 1}, {1036, 2},  {1040, 4},
    {1041, 5},  {1042, 9},  {1043, 8},  {1046, 7}, {1049, 10}, {2052, 12},
    {2058, 6},  {2070, 7},  {3076, 13}, {3082, 6}, {4100, 12}, {5124, 13},
};

// Windows primary language ids (id & 0x3FF) to their rows.
constexpr std::pair<std::uint16_t, int> kPrimaryLanguages[] = {
    {0x09, 1},   {0x0c, 2},   {0x07, 3},   {0x10, 4},   {0x11, 5},   {0x0a, 6},   {0x16, 7},
    {0x13, 8},   {0x12, 9},   {0x19, 10},  {0x05, 11},  {0x04, 12},  {0x36, 14},  {0x1c, 15},
    {0x5e, 16},  {0x01, 17},  {0x2b, 18},  {0x4d, 19},  {0x6d, 20},  {0x2d, 21},  {0x23, 22},
    {0x45, 23},  {0x7e, 24},  {0x02, 26},  {0x03, 27},  {0x83, 28},  {0x06, 30},  {0x65, 31},
    {0x25, 32},  {0x0b, 33},  {0x62, 34},  {0x56, 35},  {0x37, 36},  {0x08, 37},  {0x6f, 38},
    {0x47, 39},  {0x68, 40},  {0x0d, 41},  {0x39, 42},  {0x0e, 43},  {0x0f, 44},  {0x70, 45},
    {0x21, 46},  {0x5d, 47},  {0x3c, 48},  {0x4b, 49},  {0x60, 50},  {0x3f, 51},  {0x53, 52},
    {0x87, 53},  {0x40, 54},  {0x54, 55},  {0x26, 56},  {0x27, 57},  {0x6e, 58},  {0x2f, 59},
    {0x3e, 60},  {0x4c, 61},  {0x3a, 62},  {0x81, 63},  {0x4e, 64},  {0x50, 65},  {0x61, 66},
    {0x14, 67},  {0x82, 68},  {0x48, 69},  {0x63, 70},  {0x29, 71},  {0x15, 72},  {0x46, 73},
    {0x6b, 74},  {0x18, 75},  {0x17, 76},  {0x3b, 77},  {0x4f, 78},  {0x91, 79},  {0x59, 81},
    {0x5b, 82},  {0x1b, 83},  {0x24, 84},  {0x6c, 85},  {0x41, 86},  {0x1d, 87},  {0x28, 88},
    {0x49, 89},  {0x44, 90},  {0x4a, 91},  {0x1e, 92},  {0x51, 93},  {0x32, 94},  {0x1f, 95},
    {0x42, 96},  {0x80, 97},  {0x22, 98},  {0x20, 99},  {0x43, 100}, {0x2a, 101}, {0x52, 102},
    {0x88, 103}, {0x34, 104}, {0x3d, 105}, {0x6a, 106}, {0x35, 107},
};

constexpr int kSerbian = 80;
constexpr int kCroatian = 29;
constexpr int kBosnian = 25;

// Croatian, Serbian and Bosnian share primary language 0x1A.
int SouthSlavicLanguage(std::uint16_t languageId) {
    switch (languageId) {
        case 0x041A:
        case 0x081A:
        case 0x0C1A:
        case 0x181A:
        case 0x1C1A:
        case 0x241A:
        case 0x281A:
        case 0x2C1A:
        case 0x301A:
            return kSerbian;
        case 0x101A:
            return kCroatian;
        case 0x141A:
        case 0x201A:
            return kBosnian;
        default:
            return 0;
    }
}

}  // namespace

std::span<const Language> LanguageTable() {
    return kLanguages;
}

int LanguageNumberFromId(std::uint16_t languageId) {
    for (const auto& [id, number] : kExactIds) {
        if (id == languageId) {
            return number;
        }
    }
    const std::uint16_t primary = languageId & 0x3FF;
    if (primary == 0x1A) {
        return SouthSlavicLanguage(languageId);
    }
    for (const auto& [id, number] : kPrimaryLanguages) {
        if (id == primary) {
            return number;
        }
    }
    return 0;
}

int LanguageNumberFromCode(std::string_view code) {
    for (int number = 0; number < kLanguageCount; ++number) {
        if (kLanguages[number].code == code) {
            return number;
        }
    }
    return 0;
}

}  // namespace stubframework::core
