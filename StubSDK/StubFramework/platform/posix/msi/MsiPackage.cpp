#include "platform/posix/msi/MsiPackage.h"

#include <libgcab.h>
#include <libmsi.h>

#include <cctype>
#include <functional>
#include <memory>
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
    LibmsiDatabase* const db = database.get();
    const bool read =
        EachRow(
            db, "SELECT `Property`, `Value` FROM `Property`",
            [this](LibmsiRecord* r) { properties_[FieldText(r, 1)] = FieldText(r, 2); }, true) &&
        EachRow(
            db, "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
            [this](LibmsiRecord* r) {
                directories_[FieldText(r, 1)] = {FieldText(r, 2), LongName(FieldText(r, 3))};
            },
            true) &&
        EachRow(
            db, "SELECT `Component`, `Directory_` FROM `Component`",
            [this](LibmsiRecord* r) { components_[FieldText(r, 1)] = FieldText(r, 2); }, true) &&
        EachRow(
            db, "SELECT `File`, `Component_`, `FileName`, `FileSize`, `Sequence` FROM `File`",
            [this](LibmsiRecord* r) {
                files_.push_back({FieldText(r, 1), FieldText(r, 2), LongName(FieldText(r, 3)),
                                  libmsi_record_get_int(r, 4), libmsi_record_get_int(r, 5)});
            },
            true) &&
        EachRow(
            db, "SELECT `Cabinet` FROM `Media`",
            [this](LibmsiRecord* r) {
                if (const std::string cabinet = FieldText(r, 1); !cabinet.empty()) {
                    cabinets_.push_back(cabinet);
                }
            },
            false) &&
        EachRow(
            db, "SELECT `Action` FROM `InstallExecuteSequence`",
            [this](LibmsiRecord* r) {
                const std::string action = FieldText(r, 1);
                asksForRestart_ |= action == "ScheduleReboot" || action == "ForceReboot";
            },
            false);
    if (!read || properties_["ProductCode"].empty()) {
        error_ = "the package's tables cannot be read";
        return false;
    }
    // Names from the package become paths: nothing may climb out of its folder.
    if (!IsGuid(properties_["ProductCode"])) {
        error_ = "the product code is not a GUID";
        return false;
    }
    for (const auto& [key, directory] : directories_) {
        if (directory.name != "." && directory.name.find_first_of("/\\") != std::string::npos) {
            error_ = "a folder name leaves its parent: " + key;
            return false;
        }
        if (directory.name == "..") {
            error_ = "a folder name leaves its parent: " + key;
            return false;
        }
    }
    asksForRestart_ |= properties_["REBOOT"] == "Force";
    return true;
}

std::string Package::Property(const std::string& name) const {
    const auto found = properties_.find(name);
    return found != properties_.end() ? found->second : std::string();
}

std::string Package::ComponentDirectory(const std::string& component) const {
    const auto found = components_.find(component);
    return found != components_.end() ? found->second : std::string();
}

bool Package::ExtractFiles(const std::string& folder) {
    for (const std::string& cabinet : cabinets_) {
        if (!ExtractCabinet(cabinet, folder)) {
            return false;
        }
    }
    return true;
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
