#include "tools/drvuninst/json_report.h"

#include <nlohmann/json.hpp>

namespace drvuninst {
namespace {

namespace journal = kyd::machine::journal;
using Json = nlohmann::ordered_json;  // members in the order written, as a person reads them

Json Text(const std::wstring& text) { return journal::ToUtf8(text); }
Json TextOrNull(const std::wstring& text) { return text.empty() ? Json(nullptr) : Text(text); }

// All ASCII: ensure_ascii escapes the rest.
std::wstring Dump(const Json& document) {
  // A lone surrogate in a Windows text has no UTF-8 form: it is replaced
  // rather than failing the document.
  std::string text = document.dump(2, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
  return std::wstring(text.begin(), text.end());
}

Json ChangeSummary(const ChangeCounts& counts) {
  Json summary = Json::object();
  for (size_t i = 0; i < kThings; ++i) summary[NamesOf(static_cast<Thing>(i)).json] = counts.changes[i];
  summary["all"] = counts.total;
  summary["refused"] = counts.refused;
  summary["atNextRestart"] = {{"files", counts.filesAtRestart}, {"folders", counts.foldersAtRestart}};
  summary["leftInUse"] = counts.leftInUse;
  return summary;
}

Json Changes(const journal::Manifest& manifest) {
  Json lines = Json::array();
  for (const journal::Line& line : manifest.lines) {
    Json fields = Json::object();
    for (const auto& [name, value] : line.fields) fields[journal::ToUtf8(name)] = Text(value);
    lines.push_back({{"number", line.number},
                     {"verb", Text(line.verb)},
                     {"target", Text(line.target)},
                     {"fields", fields}});
  }
  return lines;
}

Json RestoreRow(const RestoreCounts::Row& row) {
  return {{"changed", row.changes}, {"back", row.back}, {"cannotComeBack", row.cannot}, {"notBack", row.notBack}};
}

}  // namespace

std::wstring ListDocument(const std::vector<ListedDevice>& devices) {
  Json list = Json::array();
  for (const ListedDevice& listed : devices) {
    const Device& device = *listed.device;
    Json ids = Json::array();
    for (const std::wstring& id : device.hardwareIds) ids.push_back(Text(id));
    Json extensions = Json::array(), components = Json::array();
    for (const std::wstring& inf : device.extensionInfs) extensions.push_back(Text(inf));
    for (const std::wstring& inf : device.componentInfs) components.push_back(Text(inf));
    list.push_back({{"instanceId", Text(device.instanceId)},
                    {"class", TextOrNull(device.className)},
                    {"classGuid", TextOrNull(device.classGuid)},
                    {"hardwareIds", ids},
                    {"driverInf", TextOrNull(device.inf)},
                    {"extensionInfs", extensions},
                    {"componentInfs", components},
                    {"companionPackageInstalled",
                     listed.companionPackage < 0 ? Json(nullptr) : Json(listed.companionPackage == 1)}});
  }
  return Dump({{"command", "list"}, {"devices", list}, {"exitCode", 0}});
}

std::wstring QueryDocument(const std::wstring& hardwareId, const std::wstring& classGuid, int libraryResult,
                          int exitCode) {
  return Dump({{"command", "query"},
               {"hardwareId", Text(hardwareId)},
               {"classGuid", Text(classGuid)},
               {"companionPackageInstalled", exitCode == 0},
               {"libraryResult", libraryResult},
               {"exitCode", exitCode}});
}

std::wstring UninstallDocument(const UninstallReport& report) {
  Json document = {{"command", "uninstall"},
                   {"hardwareId", Text(report.hardwareId)},
                   {"classGuid", Text(report.classGuid)},
                   {"mode", Text(report.mode)},
                   {"keepDevice", report.keepDevice},
                   {"libraryResult", report.libraryResult},
                   {"result", Text(report.meaning)},
                   {"restartNeeded", report.restartNeeded},
                   {"exitCode", report.exitCode},
                   {"manifest", TextOrNull(report.manifestPath)}};
  document["summary"] = report.manifest ? ChangeSummary(CountChanges(*report.manifest)) : Json(nullptr);
  document["changes"] = report.manifest ? Changes(*report.manifest) : Json(nullptr);
  return Dump(document);
}

std::wstring RestoreDocument(const RestoreReport& report) {
  Json document = {{"command", "restore"},
                   {"journal", Text(report.folder)},
                   {"manifest", Text(report.folder + L"\\manifest.txt")},
                   {"report", TextOrNull(report.reportPath)},
                   {"libraryResult", report.libraryResult},
                   {"result", Text(report.meaning)},
                   {"refused", TextOrNull(report.refused)},
                   {"exitCode", report.exitCode}};
  Json notes = Json::array();
  for (const std::wstring& note : report.notes) notes.push_back(Text(note));
  document["notes"] = notes;
  if (report.manifest && report.entries) {
    RestoreCounts counts = CountRestore(*report.manifest, *report.entries);
    Json summary = Json::object();
    for (size_t i = 0; i < kThings; ++i) summary[NamesOf(static_cast<Thing>(i)).json] = RestoreRow(counts.rows[i]);
    summary["all"] = RestoreRow(counts.total);
    summary["refused"] = counts.unchanged;
    summary["atNextRestart"] = {
        {"calledOff", counts.calledOff}, {"carriedOut", counts.carriedOut}, {"notCalledOff", counts.notCalledOff}};
    Json changes = Json::array();
    for (const RestoreEntry& entry : *report.entries)
      changes.push_back({{"number", entry.number},
                         {"outcome", Text(entry.outcome)},
                         {"verb", TextOrNull(entry.verb)},
                         {"target", TextOrNull(entry.target)},
                         {"detail", TextOrNull(entry.detail)}});
    document["summary"] = summary;
    document["changes"] = changes;
  } else {
    document["summary"] = nullptr;
    document["changes"] = nullptr;
  }
  return Dump(document);
}

std::wstring ForgetDocument(const std::wstring& folder, const std::wstring& meaning, int exitCode) {
  return Dump({{"command", "restore"},
               {"journal", Text(folder)},
               {"forget", true},
               {"result", Text(meaning)},
               {"exitCode", exitCode}});
}

std::wstring ErrorDocument(const std::wstring& command, const std::wstring& error, int exitCode) {
  return Dump({{"command", Text(command)},
               {"error", Text(error)},
               {"libraryResult", nullptr},
               {"summary", nullptr},
               {"exitCode", exitCode}});
}

}  // namespace drvuninst
