#include "platform/posix/Locale.h"

#include <algorithm>
#include <string>
#include <utility>

namespace stubframework::platform::posix {
namespace {

constexpr std::uint16_t kEnglishUnitedStates = 0x0409;

struct LocaleParts {
    std::string_view language;
    std::string_view territory;
    std::string_view modifier;
};

// language[_territory][.codeset][@modifier]
LocaleParts SplitLocale(std::string_view locale) {
    LocaleParts parts;
    const std::size_t at = locale.find('@');
    if (at != std::string_view::npos) {
        parts.modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    const std::size_t underscore = locale.find('_');
    parts.language = locale.substr(0, underscore);
    if (underscore != std::string_view::npos) {
        parts.territory = locale.substr(underscore + 1);
    }
    return parts;
}

// ISO 639 codes to Windows primary language ids, for every language the
// installer knows by name.
constexpr std::pair<std::string_view, std::uint16_t> kPrimaryLanguages[] = {
    {"af", 0x36}, {"am", 0x5e},  {"ar", 0x01},  {"as", 0x4d},  {"ba", 0x6d},  {"be", 0x23},
    {"bg", 0x02}, {"bn", 0x45},  {"bo", 0x51},  {"br", 0x7e},  {"bs", 0x1a},  {"ca", 0x03},
    {"co", 0x83}, {"cs", 0x05},  {"cy", 0x52},  {"da", 0x06},  {"de", 0x07},  {"dv", 0x65},
    {"el", 0x08}, {"en", 0x09},  {"es", 0x0a},  {"et", 0x25},  {"eu", 0x2d},  {"fa", 0x29},
    {"fi", 0x0b}, {"fr", 0x0c},  {"fy", 0x62},  {"ga", 0x3c},  {"gd", 0x91},  {"gl", 0x56},
    {"gu", 0x47}, {"ha", 0x68},  {"he", 0x0d},  {"hi", 0x39},  {"hr", 0x1a},  {"hu", 0x0e},
    {"hy", 0x2b}, {"id", 0x21},  {"ig", 0x70},  {"is", 0x0f},  {"it", 0x10},  {"iu", 0x5d},
    {"iw", 0x0d}, {"ja", 0x11},  {"ka", 0x37},  {"kk", 0x3f},  {"kl", 0x6f},  {"km", 0x53},
    {"kn", 0x4b}, {"ko", 0x12},  {"ks", 0x60},  {"ky", 0x40},  {"lb", 0x6e},  {"lo", 0x54},
    {"lt", 0x27}, {"lv", 0x26},  {"mi", 0x81},  {"mk", 0x2f},  {"ml", 0x4c},  {"mn", 0x50},
    {"mr", 0x4e}, {"ms", 0x3e},  {"mt", 0x3a},  {"nb", 0x14},  {"ne", 0x61},  {"nl", 0x13},
    {"nn", 0x14}, {"no", 0x14},  {"oc", 0x82},  {"or", 0x48},  {"pa", 0x46},  {"pl", 0x15},
    {"ps", 0x63}, {"pt", 0x16},  {"qu", 0x6b},  {"rm", 0x17},  {"ro", 0x18},  {"ru", 0x19},
    {"rw", 0x87}, {"sa", 0x4f},  {"sd", 0x59},  {"se", 0x3b},  {"si", 0x5b},  {"sk", 0x1b},
    {"sl", 0x24}, {"sq", 0x1c},  {"sr", 0x1a},  {"st", 0x6c},  {"sv", 0x1d},  {"sw", 0x41},
    {"ta", 0x49}, {"te", 0x4a},  {"tg", 0x28},  {"th", 0x1e},  {"tk", 0x42},  {"tn", 0x32},
    {"tr", 0x1f}, {"tt", 0x44},  {"ug", 0x80},  {"uk", 0x22},  {"ur", 0x20},  {"uz", 0x43},
    {"vi", 0x2a}, {"wo", 0x88},  {"xh", 0x34},  {"yi", 0x3d},  {"yo", 0x6a},  {"zh", 0x04},
    {"zu", 0x35}, {"fil", 0x64}, {"lij", 0x10}, {"nso", 0x6c}, {"sah", 0x85},
};

struct Variant {
    std::string_view language;
    std::string_view territory;
    std::string_view modifier;
    std::uint16_t id;
};

// Full ids where the territory (or script) picks a sub-language that matters.
constexpr Variant kVariants[] = {
    {"zh", "TW", "", 0x0404}, {"zh", "CN", "", 0x0804},
    {"zh", "HK", "", 0x0C04}, {"zh", "SG", "", 0x1004},
    {"zh", "MO", "", 0x1404}, {"pt", "BR", "", 0x0416},
    {"pt", "PT", "", 0x0816}, {"es", "ES", "", 0x0C0A},
    {"es", "MX", "", 0x080A}, {"es", "GT", "", 0x100A},
    {"es", "CR", "", 0x140A}, {"es", "PA", "", 0x180A},
    {"es", "DO", "", 0x1C0A}, {"es", "VE", "", 0x200A},
    {"es", "CO", "", 0x240A}, {"es", "PE", "", 0x280A},
    {"es", "AR", "", 0x2C0A}, {"es", "EC", "", 0x300A},
    {"es", "CL", "", 0x340A}, {"es", "UY", "", 0x380A},
    {"es", "PY", "", 0x3C0A}, {"es", "BO", "", 0x400A},
    {"es", "SV", "", 0x440A}, {"es", "HN", "", 0x480A},
    {"es", "NI", "", 0x4C0A}, {"es", "PR", "", 0x500A},
    {"es", "US", "", 0x540A}, {"en", "GB", "", 0x0809},
    {"en", "AU", "", 0x0C09}, {"en", "CA", "", 0x1009},
    {"en", "NZ", "", 0x1409}, {"en", "IE", "", 0x1809},
    {"en", "ZA", "", 0x1C09}, {"en", "IN", "", 0x4009},
    {"en", "SG", "", 0x4809}, {"de", "CH", "", 0x0807},
    {"de", "AT", "", 0x0C07}, {"de", "LU", "", 0x1007},
    {"de", "LI", "", 0x1407}, {"fr", "BE", "", 0x080C},
    {"fr", "CA", "", 0x0C0C}, {"fr", "CH", "", 0x100C},
    {"fr", "LU", "", 0x140C}, {"fr", "MC", "", 0x180C},
    {"it", "CH", "", 0x0810}, {"nl", "BE", "", 0x0813},
    {"hr", "HR", "", 0x041A}, {"hr", "BA", "", 0x101A},
    {"bs", "BA", "", 0x141A}, {"bs", "BA", "cyrillic", 0x201A},
    {"sr", "RS", "", 0x281A}, {"sr", "RS", "latin", 0x241A},
    {"sr", "ME", "", 0x2C1A}, {"sr", "ME", "cyrillic", 0x301A},
    {"nn", "NO", "", 0x0814}, {"sv", "FI", "", 0x081D},
    {"ar", "EG", "", 0x0C01}, {"ko", "KR", "", 0x0412},
};

// ISO 3166 territory codes to Windows geographic ids (nation class).
constexpr std::pair<std::string_view, std::int32_t> kNations[] = {
    {"AD", 8},   {"AE", 224}, {"AF", 3},   {"AG", 2},     {"AL", 6},   {"AM", 7},   {"AO", 9},
    {"AR", 11},  {"AS", 10},  {"AT", 14},  {"AU", 12},    {"AW", 302}, {"AZ", 5},   {"BA", 25},
    {"BB", 18},  {"BD", 23},  {"BE", 21},  {"BF", 245},   {"BG", 35},  {"BH", 17},  {"BI", 38},
    {"BJ", 28},  {"BM", 20},  {"BN", 37},  {"BO", 26},    {"BR", 32},  {"BS", 22},  {"BT", 34},
    {"BW", 19},  {"BY", 29},  {"BZ", 24},  {"CA", 39},    {"CD", 44},  {"CF", 55},  {"CG", 43},
    {"CH", 223}, {"CI", 119}, {"CL", 46},  {"CM", 49},    {"CN", 45},  {"CO", 51},  {"CR", 54},
    {"CU", 56},  {"CV", 57},  {"CW", 273}, {"CY", 59},    {"CZ", 75},  {"DE", 94},  {"DJ", 62},
    {"DK", 61},  {"DM", 63},  {"DO", 65},  {"DZ", 4},     {"EC", 66},  {"EE", 70},  {"EG", 67},
    {"EH", 257}, {"ER", 71},  {"ES", 217}, {"ET", 73},    {"FI", 77},  {"FJ", 78},  {"FM", 80},
    {"FO", 81},  {"FR", 84},  {"GA", 87},  {"GB", 242},   {"GD", 91},  {"GE", 88},  {"GH", 89},
    {"GI", 90},  {"GL", 93},  {"GM", 86},  {"GN", 100},   {"GQ", 69},  {"GR", 98},  {"GT", 99},
    {"GW", 196}, {"GY", 101}, {"HK", 104}, {"HN", 106},   {"HR", 108}, {"HT", 103}, {"HU", 109},
    {"ID", 111}, {"IE", 68},  {"IL", 117}, {"IN", 113},   {"IQ", 121}, {"IR", 116}, {"IS", 110},
    {"IT", 118}, {"JM", 124}, {"JO", 126}, {"JP", 122},   {"KE", 129}, {"KG", 130}, {"KH", 40},
    {"KI", 133}, {"KM", 50},  {"KN", 207}, {"KP", 131},   {"KR", 134}, {"KW", 136}, {"KZ", 137},
    {"LA", 138}, {"LB", 139}, {"LC", 218}, {"LI", 145},   {"LK", 42},  {"LR", 142}, {"LS", 146},
    {"LT", 141}, {"LU", 147}, {"LV", 140}, {"LY", 148},   {"MA", 159}, {"MC", 158}, {"MD", 152},
    {"ME", 270}, {"MG", 149}, {"MH", 199}, {"MK", 19618}, {"ML", 157}, {"MM", 27},  {"MN", 154},
    {"MO", 151}, {"MR", 162}, {"MT", 163}, {"MU", 160},   {"MV", 165}, {"MW", 156}, {"MX", 166},
    {"MY", 167}, {"MZ", 168}, {"NA", 254}, {"NE", 173},   {"NG", 175}, {"NI", 182}, {"NL", 176},
    {"NO", 177}, {"NP", 178}, {"NR", 180}, {"NZ", 183},   {"OM", 164}, {"PA", 192}, {"PE", 187},
    {"PG", 194}, {"PH", 201}, {"PK", 190}, {"PL", 191},   {"PR", 202}, {"PS", 184}, {"PT", 193},
    {"PW", 195}, {"PY", 185}, {"QA", 197}, {"RE", 198},   {"RO", 200}, {"RS", 271}, {"RU", 203},
    {"RW", 204}, {"SA", 205}, {"SB", 30},  {"SC", 208},   {"SD", 219}, {"SE", 221}, {"SG", 215},
    {"SI", 212}, {"SK", 143}, {"SL", 213}, {"SM", 214},   {"SN", 210}, {"SO", 216}, {"SR", 181},
    {"SS", 276}, {"ST", 233}, {"SV", 72},  {"SY", 222},   {"SZ", 260}, {"TD", 41},  {"TG", 232},
    {"TH", 227}, {"TJ", 228}, {"TM", 238}, {"TN", 234},   {"TO", 231}, {"TR", 235}, {"TT", 225},
    {"TV", 236}, {"TW", 237}, {"TZ", 239}, {"UA", 241},   {"UG", 240}, {"US", 244}, {"UY", 246},
    {"UZ", 247}, {"VA", 253}, {"VC", 248}, {"VE", 249},   {"VN", 251}, {"VU", 174}, {"WS", 259},
    {"YE", 261}, {"ZA", 209}, {"ZM", 263}, {"ZW", 264},
};

bool IsNeutralLocale(std::string_view language) {
    return language.empty() || language == "C" || language == "POSIX";
}

}  // namespace

std::uint16_t LanguageIdFromLocale(std::string_view locale) {
    const LocaleParts parts = SplitLocale(locale);
    if (IsNeutralLocale(parts.language)) {
        return kEnglishUnitedStates;
    }
    for (const Variant& variant : kVariants) {
        if (variant.language == parts.language && variant.territory == parts.territory &&
            variant.modifier == parts.modifier) {
            return variant.id;
        }
    }
    for (const auto& [code, primary] : kPrimaryLanguages) {
        if (code == parts.language) {
            return static_cast<std::uint16_t>((1u << 10) | primary);  // SUBLANG_DEFAULT
        }
    }
    return kEnglishUnitedStates;
}

std::int32_t GeoIdFromLocale(std::string_view locale) {
    const LocaleParts parts = SplitLocale(locale);
    for (const auto& [code, geoId] : kNations) {
        if (code == parts.territory) {
            return geoId;
        }
    }
    return -1;
}

}  // namespace stubframework::platform::posix
