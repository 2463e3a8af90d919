#include "platform/posix/msi/MsiPackage.h"

#include <libgcab.h>
#include <libmsi.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <set>
#include <string_view>

#include "platform/unicode.h"

namespace stubframework::platform::msi::detail {
namespace {

template <class T>
struct Unref {
    void operator()(T* object) const {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref<T>>;

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error != nullptr) {
            g_error_free(error);
        }
    }
    std::string Text() const { return error != nullptr ? error->message : "unknown error"; }
};

std::string FieldText(LibmsiRecord* record, guint field) {
    if (libmsi_record_is_null(record, field)) {
        return {};
    }
    gchar* text = libmsi_record_get_string(record, field);
    std::string value = text != nullptr ? text : "";
    g_free(text);
    return value;
}

// Runs a query and hands each record to `row`; false when it cannot run
// (a table the package does not have counts as empty).
bool EachRow(LibmsiDatabase* database, const char* sql,
             const std::function<void(LibmsiRecord*)>& row, bool tableRequired) {
    ErrorHolder error;
    GPtr<LibmsiQuery> query(libmsi_query_new(database, sql, &error.error));
    if (!query || !libmsi_query_execute(query.get(), nullptr, &error.error)) {
        return !tableRequired;
    }
    while (LibmsiRecord* record = libmsi_query_fetch(query.get(), nullptr)) {
        row(record);
        g_object_unref(record);
    }
    libmsi_query_close(query.get(), nullptr);
    return true;
}

// "short|long" gives the long name; "target:source" the target part.
std::string LongName(const std::string& defaultDir) {
    std::string target = defaultDir.substr(0, defaultDir.find(':'));
    const std::size_t bar = target.find('|');
    return bar == std::string::npos ? target : target.substr(bar + 1);
}

bool IsGuid(const std::string& text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') {
        return false;
    }
    for (std::size_t i = 1; i < 37; ++i) {
        const char c = text[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// Only plain names come out of a cabinet: nothing may land beside the folder.
gboolean PlainNameOnly(GCabFile* file, gpointer) {
    const std::string name = gcab_file_get_name(file);
    return name.find_first_of("/\\") == std::string::npos && name != "." && name != ".." &&
           !name.empty();
}

// Windows' readers hand out at most 255 UTF-16 units; a pair is not split.
std::string CutToReaderLength(const std::string& text) {
    constexpr std::size_t kMaxUnits = 255;
    std::u16string units = Utf8ToUtf16(text);
    if (units.size() <= kMaxUnits) {
        return text;
    }
    std::size_t end = kMaxUnits;
    if (units[end - 1] >= 0xD800 && units[end - 1] <= 0xDBFF) {
        --end;
    }
    units.resize(end);
    return Utf16ToUtf8(units);
}

// Tables with no effect on what an installation changes (user interface,
// costing, signatures, merge-module bookkeeping), or whose rows this
// installer acts on. Any other table with rows is refused, so no package is
// reported installed with part of it skipped.
bool IsKnownTable(const std::string& name) {
    static const std::set<std::string> known = {
        "_Validation",
        "ActionText",
        "AdminExecuteSequence",
        "AdminUISequence",
        "AdvtExecuteSequence",
        "AdvtUISequence",
        "AppSearch",
        "BBControl",
        "Billboard",
        "Binary",
        "BindImage",
        "CheckBox",
        "ComboBox",
        "CompLocator",
        "Component",
        "Condition",
        "Control",
        "ControlCondition",
        "ControlEvent",
        "CreateFolder",
        "CustomAction",
        "Dialog",
        "Directory",
        "DrLocator",
        "Environment",
        "Error",
        "EventMapping",
        "Feature",
        "FeatureComponents",
        "File",
        "Icon",
        "InstallExecuteSequence",
        "InstallUISequence",
        "LaunchCondition",
        "ListBox",
        "ListView",
        "Media",
        "ModuleComponents",
        "ModuleDependency",
        "ModuleExclusion",
        "ModuleSignature",
        "MsiDigitalCertificate",
        "MsiDigitalSignature",
        "MsiFileHash",
        "Property",
        "RadioButton",
        "RegLocator",
        "Registry",
        "RemoveFile",
        "RemoveRegistry",
        "ReserveCost",
        "Shortcut",
        "Signature",
        "TextStyle",
        "UIText",
        "Upgrade",
    };
    return known.count(name) != 0;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

int IntegerField(LibmsiRecord* record, guint field) {
    return libmsi_record_is_null(record, field) ? kNoInteger : libmsi_record_get_int(record, field);
}

int IntegerOr(LibmsiRecord* record, guint field, int otherwise) {
    const int value = IntegerField(record, field);
    return value == kNoInteger ? otherwise : value;
}

RegistryRow RegistryOf(LibmsiRecord* r, bool withValue) {
    RegistryRow row;
    row.key = FieldText(r, 1);
    row.root = IntegerOr(r, 2, -1);
    row.path = FieldText(r, 3);
    row.name = FieldText(r, 4);
    if (withValue) {
        row.hasValue = !libmsi_record_is_null(r, 5);
        row.value = FieldText(r, 5);
        row.component = FieldText(r, 6);
    } else {
        row.component = FieldText(r, 5);
    }
    return row;
}

// A table with rows, by a query of its own.
bool HasRows(LibmsiDatabase* database, const std::string& table) {
    bool any = false;
    EachRow(
        database, ("SELECT * FROM `" + table + "`").c_str(), [&any](LibmsiRecord*) { any = true; },
        false);
    return any;
}

}  // namespace

bool QueryPackageProperty(const std::string& path, const std::string& name, std::string& value) {
    // The name goes into the query's text: it may not end the literal.
    constexpr std::string_view kQuotes{"'\"`\0", 4};
    if (name.find_first_of(kQuotes) != std::string::npos) {
        return false;
    }
    ErrorHolder error;
    GPtr<LibmsiDatabase> database(
        libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.error));
    if (!database) {
        return false;
    }
    const std::string sql = "SELECT * FROM Property WHERE Property = '" + name + "'";
    GPtr<LibmsiQuery> query(libmsi_query_new(database.get(), sql.c_str(), &error.error));
    if (!query || !libmsi_query_execute(query.get(), nullptr, &error.error)) {
        return false;
    }
    GPtr<LibmsiRecord> record(libmsi_query_fetch(query.get(), nullptr));
    libmsi_query_close(query.get(), nullptr);
    if (!record) {
        return false;
    }
    value = CutToReaderLength(FieldText(record.get(), 2));
    return true;
}

bool Package::Load(const std::string& path) {
    path_ = path;
    ErrorHolder error;
    GPtr<LibmsiDatabase> database(
        libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.error));
    if (!database) {
        error_ = "not an installer package: " + error.Text();
        return false;
    }
    EachRow(
        database.get(), "SELECT `Name` FROM `_Tables`",
        [this](LibmsiRecord* r) { tables_.insert(FieldText(r, 1)); }, false);
    if (!ReadTables(database.get()) || properties_["ProductCode"].empty()) {
        error_ = "the package's tables cannot be read";
        return false;
    }
    GPtr<LibmsiSummaryInfo> summary(libmsi_summary_info_new(database.get(), 0, &error.error));
    const gchar* platform =
        summary ? libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_TEMPLATE, nullptr)
                : nullptr;
    const std::string platformText = platform != nullptr ? Lower(platform) : "";
    is64Bit_ = platformText.rfind("x64", 0) == 0 || platformText.rfind("amd64", 0) == 0 ||
               platformText.rfind("arm64", 0) == 0 || platformText.rfind("intel64", 0) == 0;
    // Tables this installer would skip make the whole package refused.
    for (const std::string& table : tables_) {
        if (table.find('`') != std::string::npos ||
            (!IsKnownTable(table) && HasRows(database.get(), table))) {
            unsupported_ = "the " + table + " table";
            break;
        }
    }
    return CheckNames();
}

bool Package::ReadTables(void* handle) {
    auto* const db = static_cast<LibmsiDatabase*>(handle);
    // A table the package lacks is empty (and libmsi is not asked for it).
    const auto rows = [this, db](const char* sql, const std::function<void(LibmsiRecord*)>& row,
                                 bool required = false) {
        const std::string text = sql;
        const std::size_t from = text.find("FROM `") + 6;
        const std::string table = text.substr(from, text.find('`', from) - from);
        return tables_.count(table) == 0 ? !required : EachRow(db, sql, row, required);
    };
    return rows(
               "SELECT `Property`, `Value` FROM `Property`",
               [this](LibmsiRecord* r) { properties_[FieldText(r, 1)] = FieldText(r, 2); }, true) &&
           rows(
               "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
               [this](LibmsiRecord* r) {
                   directories_[FieldText(r, 1)] = {FieldText(r, 2), LongName(FieldText(r, 3))};
               },
               true) &&
           rows(
               "SELECT `Component`, `ComponentId`, `Directory_`, `Attributes`, `Condition`, "
               "`KeyPath` FROM `Component`",
               [this](LibmsiRecord* r) {
                   PackageComponent component{FieldText(r, 1),    FieldText(r, 2), FieldText(r, 3),
                                              IntegerOr(r, 4, 0), FieldText(r, 5), FieldText(r, 6)};
                   components_[component.key] = component;
               },
               true) &&
           rows(
               "SELECT `File`, `Component_`, `FileName`, `FileSize`, `Version`, `Attributes`, "
               "`Sequence` FROM `File`",
               [this](LibmsiRecord* r) {
                   files_.push_back({FieldText(r, 1), FieldText(r, 2), LongName(FieldText(r, 3)),
                                     IntegerOr(r, 4, 0), FieldText(r, 5), IntegerOr(r, 6, 0),
                                     IntegerOr(r, 7, 0)});
               },
               true) &&
           rows("SELECT `Cabinet` FROM `Media`",
                [this](LibmsiRecord* r) {
                    if (std::string cabinet = FieldText(r, 1); !cabinet.empty()) {
                        cabinets_.push_back(std::move(cabinet));
                    }
                }) &&
           rows("SELECT `Feature`, `Feature_Parent`, `Title`, `Level`, `Attributes` FROM `Feature`",
                [this](LibmsiRecord* r) {
                    features_.push_back({FieldText(r, 1), FieldText(r, 2), FieldText(r, 3),
                                         IntegerOr(r, 4, 0), IntegerOr(r, 5, 0)});
                }) &&
           rows("SELECT `Feature_`, `Level`, `Condition` FROM `Condition`",
                [this](LibmsiRecord* r) {
                    featureConditions_.push_back(
                        {FieldText(r, 1), IntegerOr(r, 2, 0), FieldText(r, 3)});
                }) &&
           rows("SELECT `Feature_`, `Component_` FROM `FeatureComponents`",
                [this](LibmsiRecord* r) {
                    featureComponents_.emplace_back(FieldText(r, 1), FieldText(r, 2));
                }) &&
           rows("SELECT `Registry`, `Root`, `Key`, `Name`, `Value`, `Component_` FROM `Registry`",
                [this](LibmsiRecord* r) { registry_.push_back(RegistryOf(r, true)); }) &&
           rows(
               "SELECT `RemoveRegistry`, `Root`, `Key`, `Name`, `Component_` FROM "
               "`RemoveRegistry`",
               [this](LibmsiRecord* r) { removeRegistry_.push_back(RegistryOf(r, false)); }) &&
           rows("SELECT `Condition`, `Description` FROM `LaunchCondition`",
                [this](LibmsiRecord* r) {
                    launchConditions_.push_back({FieldText(r, 1), FieldText(r, 2)});
                }) &&
           rows(
               "SELECT `UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`, "
               "`Remove`, `ActionProperty` FROM `Upgrade`",
               [this](LibmsiRecord* r) {
                   upgrades_.push_back({FieldText(r, 1), FieldText(r, 2), FieldText(r, 3),
                                        FieldText(r, 4), IntegerOr(r, 5, 0), FieldText(r, 6),
                                        FieldText(r, 7)});
               }) &&
           rows("SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`",
                [this](LibmsiRecord* r) {
                    CustomActionRow action{FieldText(r, 1), IntegerOr(r, 2, 0), FieldText(r, 3),
                                           FieldText(r, 4)};
                    customActions_[action.action] = action;
                }) &&
           rows("SELECT `Action`, `Condition`, `Sequence` FROM `InstallExecuteSequence`",
                [this](LibmsiRecord* r) {
                    const int sequence = IntegerOr(r, 3, 0);
                    // Actions numbered 0 or less are never run in order.
                    if (sequence > 0) {
                        sequence_.push_back({FieldText(r, 1), FieldText(r, 2), sequence});
                    }
                }) &&
           rows(
               "SELECT `Shortcut`, `Directory_`, `Name`, `Component_`, `Target`, `Arguments`, "
               "`Description`, `WkDir` FROM `Shortcut`",
               [this](LibmsiRecord* r) {
                   shortcuts_.push_back({FieldText(r, 1), FieldText(r, 2),
                                         LongName(FieldText(r, 3)), FieldText(r, 4),
                                         FieldText(r, 5), FieldText(r, 6), FieldText(r, 7),
                                         FieldText(r, 8)});
               }) &&
           rows("SELECT `Directory_`, `Component_` FROM `CreateFolder`",
                [this](LibmsiRecord* r) {
                    createFolders_.push_back({FieldText(r, 1), FieldText(r, 2)});
                }) &&
           rows(
               "SELECT `FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode` FROM "
               "`RemoveFile`",
               [this](LibmsiRecord* r) {
                   removeFiles_.push_back({FieldText(r, 1), FieldText(r, 2),
                                           LongName(FieldText(r, 3)), FieldText(r, 4),
                                           IntegerOr(r, 5, 0)});
               }) &&
           rows("SELECT `Environment`, `Name`, `Value`, `Component_` FROM `Environment`",
                [this](LibmsiRecord* r) {
                    environment_.push_back(
                        {FieldText(r, 1), FieldText(r, 2), FieldText(r, 3), FieldText(r, 4)});
                }) &&
           rows("SELECT `Property`, `Signature_` FROM `AppSearch`",
                [this](LibmsiRecord* r) {
                    appSearches_.push_back({FieldText(r, 1), FieldText(r, 2)});
                }) &&
           rows(
               "SELECT `Signature`, `FileName`, `MinVersion`, `MaxVersion`, `MinSize`, "
               "`MaxSize`, `MinDate`, `MaxDate` FROM `Signature`",
               [this](LibmsiRecord* r) {
                   signatures_[FieldText(r, 1)] = {LongName(FieldText(r, 2)), FieldText(r, 3),
                                                   FieldText(r, 4),           IntegerField(r, 5),
                                                   IntegerField(r, 6),        IntegerField(r, 7),
                                                   IntegerField(r, 8)};
               }) &&
           rows("SELECT `Signature_`, `Root`, `Key`, `Name`, `Type` FROM `RegLocator`",
                [this](LibmsiRecord* r) {
                    regLocators_[FieldText(r, 1)] = {FieldText(r, 1), IntegerOr(r, 2, 0),
                                                     FieldText(r, 3), FieldText(r, 4),
                                                     IntegerOr(r, 5, 0)};
                }) &&
           rows("SELECT `Signature_`, `Parent`, `Path`, `Depth` FROM `DrLocator`",
                [this](LibmsiRecord* r) {
                    drLocators_.push_back(
                        {FieldText(r, 1), FieldText(r, 2), FieldText(r, 3), IntegerOr(r, 4, 0)});
                }) &&
           rows("SELECT `Signature_`, `ComponentId`, `Type` FROM `CompLocator`",
                [this](LibmsiRecord* r) {
                    compLocators_[FieldText(r, 1)] = {FieldText(r, 1), FieldText(r, 2),
                                                      IntegerOr(r, 3, 1)};
                }) &&
           SortSequence();
}

bool Package::SortSequence() {
    std::stable_sort(
        sequence_.begin(), sequence_.end(),
        [](const SequenceRow& a, const SequenceRow& b) { return a.sequence < b.sequence; });
    return true;
}

// Names from the package become paths: nothing may climb out of its folder.
bool Package::CheckNames() {
    if (!IsGuid(properties_["ProductCode"])) {
        error_ = "the product code is not a GUID";
        return false;
    }
    for (const auto& [key, directory] : directories_) {
        if ((directory.name != "." && directory.name.find_first_of("/\\") != std::string::npos) ||
            directory.name == "..") {
            error_ = "a folder name leaves its parent: " + key;
            return false;
        }
    }
    return true;
}

std::string Package::Property(const std::string& name) const {
    const auto found = properties_.find(name);
    return found != properties_.end() ? found->second : std::string();
}

std::string Package::ComponentDirectory(const std::string& component) const {
    const auto found = components_.find(component);
    return found != components_.end() ? found->second.directory : std::string();
}

bool Package::ExtractFiles(const std::string& folder) {
    for (const std::string& cabinet : cabinets_) {
        if (!ExtractCabinet(cabinet, folder)) {
            return false;
        }
    }
    return true;
}

bool Package::ExtractBinary(const std::string& name, const std::string& path) {
    if (name.find_first_of("'`") != std::string::npos) {
        return false;
    }
    ErrorHolder error;
    GPtr<LibmsiDatabase> database(
        libmsi_database_new(path_.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.error));
    const std::string sql = "SELECT `Data` FROM `Binary` WHERE `Name` = '" + name + "'";
    GPtr<LibmsiQuery> query(database ? libmsi_query_new(database.get(), sql.c_str(), &error.error)
                                     : nullptr);
    GPtr<LibmsiRecord> record;
    if (query && libmsi_query_execute(query.get(), nullptr, &error.error)) {
        record.reset(libmsi_query_fetch(query.get(), &error.error));
    }
    GPtr<GInputStream> stream(record ? libmsi_record_get_stream(record.get(), 1) : nullptr);
    if (!stream) {
        return false;
    }
    GPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GPtr<GFileOutputStream> out(
        g_file_replace(file.get(), nullptr, FALSE, G_FILE_CREATE_PRIVATE, nullptr, &error.error));
    return out && g_output_stream_splice(
                      G_OUTPUT_STREAM(out.get()), stream.get(),
                      static_cast<GOutputStreamSpliceFlags>(G_OUTPUT_STREAM_SPLICE_CLOSE_SOURCE |
                                                            G_OUTPUT_STREAM_SPLICE_CLOSE_TARGET),
                      nullptr, &error.error) >= 0;
}

bool Package::ExtractCabinet(const std::string& cabinet, const std::string& folder) {
    ErrorHolder error;
    GPtr<GInputStream> stream;
    GPtr<LibmsiDatabase> database;
    GPtr<LibmsiRecord> record;
    if (cabinet[0] == '#') {
        // Embedded: a stream of the package's _Streams table.
        database.reset(
            libmsi_database_new(path_.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.error));
        const std::string sql =
            "SELECT `Data` FROM `_Streams` WHERE `Name` = '" + cabinet.substr(1) + "'";
        GPtr<LibmsiQuery> query(
            database ? libmsi_query_new(database.get(), sql.c_str(), &error.error) : nullptr);
        if (query && libmsi_query_execute(query.get(), nullptr, &error.error)) {
            record.reset(libmsi_query_fetch(query.get(), &error.error));
        }
        if (record) {
            stream.reset(libmsi_record_get_stream(record.get(), 1));
        }
    } else {
        // Beside the package.
        const std::string base = path_.substr(0, path_.find_last_of('/') + 1);
        GPtr<GFile> file(g_file_new_for_path((base + cabinet).c_str()));
        stream.reset(G_INPUT_STREAM(g_file_read(file.get(), nullptr, &error.error)));
    }
    if (!stream) {
        error_ = "cabinet " + cabinet + " not found";
        return false;
    }
    GPtr<GCabCabinet> cab(gcab_cabinet_new());
    GPtr<GFile> target(g_file_new_for_path(folder.c_str()));
    if (!gcab_cabinet_load(cab.get(), stream.get(), nullptr, &error.error) ||
        !gcab_cabinet_extract_simple(cab.get(), target.get(), &PlainNameOnly, nullptr, nullptr,
                                     &error.error)) {
        error_ = "cabinet " + cabinet + ": " + error.Text();
        return false;
    }
    return true;
}

}  // namespace stubframework::platform::msi::detail
