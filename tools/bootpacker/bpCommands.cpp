#include "bpCommands.h"

#include <windows.h>
#include <cstdio>
#include <set>

#include "bpEmbeddedSettings.h"
#include "bpPackageLayout.h"
#include "bpPackageWalk.h"
#include "bpPackageWriter.h"
#include "bpSettingNames.h"
#include "bpSettingsJson.h"
#include "bpSigning.h"
#include "bpText.h"
#include "kqPathUtils.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqSmartPtr.h"

namespace {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;

int Fail(const std::string& strMessage)
{
    WriteErr("bootpack: " + strMessage + "\n");
    return kExitFailed;
}

int Usage(const std::string& strMessage)
{
    WriteErr("bootpack: " + strMessage + "\n(run \"bootpack help\" for the commands)\n");
    return kExitUsage;
}

std::string Hex32(DWORD dwValue)
{
    char sz[16];
    wsprintfA(sz, "0x%08lX", dwValue);
    return sz;
}

std::string Hex64(ULONGLONG ullValue)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "0x%llX", ullValue);
    return sz;
}

// Removes the files it names when it goes, unless told to keep them.
class CTemporaryFiles
{
public:
    ~CTemporaryFiles()
    {
        for (const std::wstring& strPath : m_paths)
            DeleteFileW(strPath.c_str());
    }
    void Add(const std::wstring& strPath) { m_paths.push_back(strPath); }

private:
    std::vector<std::wstring> m_paths;
};

// Settings read from a package into a collection; a package without a block gives none.
// pbFound may be null.
bool ReadPackageSettings(const std::wstring& strPackage, CSmartPtr<IKeyValueCollection>& spSettings, bool* pbFound,
                         std::string& strError)
{
    spSettings = NewKeyValueCollection();
    if (!spSettings) {
        strError = "out of memory";
        return false;
    }
    return ReadEmbeddedSettings(strPackage, spSettings.Get(), pbFound, strError);
}

// Writes the settings, then reads them back and compares: a block that does not read back as
// written is an error.
bool WriteAndCheckSettings(const std::wstring& strPackage, IKeyValueCollection* pSettings, std::string& strError)
{
    if (!WriteEmbeddedSettings(strPackage, pSettings, strError))
        return false;
    CSmartPtr<IKeyValueCollection> spBack;
    bool bFound = false;
    if (!ReadPackageSettings(strPackage, spBack, &bFound, strError))
        return false;
    Json written;
    Json back;
    if (!bFound || !SaveSettingsJson(pSettings, written, strError) || !SaveSettingsJson(spBack.Get(), back, strError) ||
        written != back) {
        strError = "read-back: " + ToUtf8(strPackage) + ": the settings read back differ from those written";
        return false;
    }
    return true;
}

// ---- build ----

struct BuildOptions
{
    std::wstring strStub;
    std::wstring strSettings;
    std::wstring strSign;
    std::wstring strOutput;
    bool bSignLater = false;
    std::vector<PackageInput> inputs;
};

bool ParseBuild(const Arguments& args, BuildOptions& options, std::string& strError)
{
    std::wstring strUI;
    std::wstring strInstall;
    std::wstring strProduct;
    std::vector<std::wstring> aux;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& strArg = args[i];
        if (strArg == L"--sign-later") {
            options.bSignLater = true;
            continue;
        }
        std::wstring* pTarget = nullptr;
        if (strArg == L"--stub") pTarget = &options.strStub;
        else if (strArg == L"--settings") pTarget = &options.strSettings;
        else if (strArg == L"--sign") pTarget = &options.strSign;
        else if (strArg == L"-o" || strArg == L"--output") pTarget = &options.strOutput;
        else if (strArg == L"--ui") pTarget = &strUI;
        else if (strArg == L"--install") pTarget = &strInstall;
        else if (strArg == L"--product") pTarget = &strProduct;
        else if (strArg == L"--aux") {
            if (i + 1 >= args.size()) {
                strError = "--aux needs a file";
                return false;
            }
            aux.push_back(args[++i]);
            continue;
        } else {
            strError = "build: unknown argument \"" + ToUtf8(strArg) + "\"";
            return false;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            strError = ToUtf8(strArg) + " needs a value";
            return false;
        }
        if (!pTarget->empty()) {
            strError = ToUtf8(strArg) + " is given twice";
            return false;
        }
        *pTarget = args[++i];
    }
    const struct
    {
        const std::wstring* pValue;
        const char* pszOption;
    } required[] = {{&options.strStub, "--stub"}, {&strUI, "--ui"},           {&strInstall, "--install"},
                    {&strProduct, "--product"},   {&options.strOutput, "-o"}};
    for (const auto& item : required) {
        if (item.pValue->empty()) {
            strError = std::string("build: ") + item.pszOption + " is required";
            return false;
        }
    }
    if (options.strSettings.empty() && !options.bSignLater) {
        strError = "build: --settings is required (or --sign-later, to add the settings after signing)";
        return false;
    }
    if (options.bSignLater && !options.strSign.empty()) {
        strError = "build: --sign and --sign-later exclude each other";
        return false;
    }
    // The order of the shipped packages: UI first, so it can show while the rest unpacks.
    options.inputs.push_back({strUI, ZIRA::eFileType_UIPackage});
    options.inputs.push_back({strProduct, ZIRA::eFileType_ProductPackage});
    options.inputs.push_back({strInstall, ZIRA::eFileType_InstallPackage});
    for (const std::wstring& strAux : aux)
        options.inputs.push_back({strAux, ZIRA::eFileType_AuxPackage});
    return true;
}

bool LoadSettingsFile(const std::wstring& strPath, CSmartPtr<IKeyValueCollection>& spSettings, std::string& strError)
{
    Json document;
    spSettings = NewKeyValueCollection();
    if (!spSettings) {
        strError = "out of memory";
        return false;
    }
    const std::string strSource = ToUtf8(strPath);
    return ReadJsonFile(strPath, document, strError) &&
           LoadSettingsJson(document, strSource, spSettings.Get(), strError) &&
           CheckRequiredSettings(spSettings.Get(), strSource, strError);
}

// ---- inspect ----

std::string MachineName(WORD wMachine)
{
    switch (wMachine) {
    case IMAGE_FILE_MACHINE_I386: return "x86";
    case IMAGE_FILE_MACHINE_AMD64: return "x64";
    case 0xAA64: return "arm64";
    default: return Hex32(wMachine);
    }
}

void AddSettingsList(IKeyValueCollection* pSettings, Json& list)
{
    list = Json::array();
    const DWORD dwCount = pSettings->GetCount();
    for (DWORD i = 0; i < dwCount; ++i) {
        DWORD dwKey = 0;
        if (!pSettings->GetKeyByIndex(i, &dwKey))
            break;
        Json item = Json::object();
        item["key"] = dwKey;
        const SettingName* pName = FindSettingByKey(dwKey);
        item["name"] = pName ? Json(pName->pszName) : Json(nullptr);
        const char* pszType = GetValueTypeName(pSettings->GetType(dwKey));
        item["type"] = pszType ? pszType : "?";
        Json value;
        std::string strProblem;
        if (GetValueAsJson(pSettings, dwKey, value, strProblem))
            item["value"] = value;
        else
            item["error"] = strProblem;
        list.push_back(std::move(item));
    }
}

std::string ShowValue(const Json& value)
{
    return value.dump();
}

}  // namespace

std::string UsageText()
{
    return "bootpack: builds, signs, inspects and edits Bootling packages.\n"
           "\n"
           "  bootpack build --stub Bootling.exe --settings settings.json --ui UI.7z --install Install.7z\n"
           "                 --product Product.7z [--aux Aux.7z ...] [--sign \"COMMAND {in} {out}\"] -o Package.exe\n"
           "      --sign runs COMMAND as a Windows program; {in} is the unsigned package, {out} the signed\n"
           "      file to make (without {out} the command signs {in} in place).\n"
           "      --sign-later (instead of --sign) writes the unsigned package without settings; sign it,\n"
           "      then add the settings with \"bootpack settings import\".\n"
           "  bootpack inspect Package.exe [--json]\n"
           "  bootpack settings get Package.exe KEY\n"
           "  bootpack settings set Package.exe KEY [TYPE] VALUE\n"
           "  bootpack settings remove Package.exe KEY\n"
           "  bootpack settings import Package.exe FILE.json\n"
           "  bootpack settings export Package.exe FILE.json\n"
           "  bootpack extract Package.exe FOLDER\n"
           "\n"
           "KEY is a setting name (ProductId, IsolationId, ...) or a key number; TYPE is one of\n"
           "  " + ListValueTypeNames() + "\n"
           "(needed for keys without a name). --verbose before the command shows the library's trace.\n";
}

int CommandBuild(const Arguments& args)
{
    BuildOptions options;
    std::string strError;
    if (!ParseBuild(args, options, strError))
        return Usage(strError);

    CSmartPtr<IKeyValueCollection> spSettings;
    if (!options.strSettings.empty() && !LoadSettingsFile(options.strSettings, spSettings, strError))
        return Fail(strError);
    StubInfo stub;
    if (!CheckStub(options.strStub, stub, strError) || !CheckInputs(options.inputs, strError))
        return Fail(strError);

    // Work on files beside the output; the output appears only once everything read back.
    CTemporaryFiles temporary;
    const std::wstring strUnsigned = options.strOutput + L".unsigned.tmp";
    const std::wstring strSignedOut = options.strOutput + L".signed.tmp";
    temporary.Add(strUnsigned);
    temporary.Add(strSignedOut);
    if (!WritePackageFile(options.strStub, stub, options.inputs, strUnsigned, strError))
        return Fail(strError);

    std::wstring strResult = strUnsigned;
    std::string strLastStep = "after writing the package: ";
    if (!options.strSign.empty()) {
        if (!RunSigningCommand(options.strSign, strUnsigned, strSignedOut, strResult, strError))
            return Fail(strError);
        PackageLayout layout;
        if (!ReadPackageLayout(strResult, layout, strError) || !layout.bSigned)
            return Fail("the signing command left " + ToUtf8(strResult) + " without a signature");
        strLastStep = "after signing: ";
    }
    if (spSettings && !options.bSignLater) {
        if (!WriteAndCheckSettings(strResult, spSettings.Get(), strError))
            return Fail(strError);
        strLastStep = "after writing the settings: ";
    }
    // One full read-back once the file is final: whatever the signing command or the settings
    // block did to it, the stub and every entry must still be what was written.
    if (!VerifyPackageContents(strResult, options.strStub, stub, options.inputs, strError))
        return Fail(strLastStep + strError);
    if (!MoveFileExW(strResult.c_str(), options.strOutput.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return Fail(ToUtf8(options.strOutput) + ": cannot replace the output file (error " +
                    std::to_string(GetLastError()) + ")");

    std::string strDone = "bootpack: wrote " + ToUtf8(options.strOutput) + " (" + std::to_string(options.inputs.size()) +
                          " archives";
    strDone += options.strSign.empty() ? ", unsigned" : ", signed";
    strDone += options.bSignLater ? ", no settings yet)\n" : ")\n";
    WriteOut(strDone);
    if (options.bSignLater)
        WriteOut("bootpack: sign it, then run: bootpack settings import " + ToUtf8(options.strOutput) + " SETTINGS.json\n");
    return kExitOk;
}

int CommandInspect(const Arguments& args)
{
    std::wstring strPackage;
    bool bJson = false;
    for (const std::wstring& strArg : args) {
        if (strArg == L"--json")
            bJson = true;
        else if (strPackage.empty() && !(strArg.size() > 1 && strArg[0] == L'-'))
            strPackage = strArg;
        else
            return Usage("inspect: unexpected argument \"" + ToUtf8(strArg) + "\"");
    }
    if (strPackage.empty())
        return Usage("inspect: name the package file");

    std::string strError;
    PackageLayout layout;
    if (!ReadPackageLayout(strPackage, layout, strError))
        return Fail(strError);
    CSmartPtr<IKeyValueCollection> spSettings;
    std::string strSettingsError;
    const bool bSettingsRead =
        layout.bHasSettingsBlock && ReadPackageSettings(strPackage, spSettings, nullptr, strSettingsError);
    const long lSignature = CheckSignature(strPackage);

    Json doc = Json::object();
    doc["file"] = ToUtf8(strPackage);
    doc["fileSize"] = layout.pe.ullFileSize;
    doc["pe"] = {{"format", layout.pe.bPE32Plus ? "PE32+" : "PE32"},
                 {"machine", MachineName(layout.pe.wMachine)},
                 {"endOfImage", layout.pe.dwEndOfImage},
                 {"checksum", layout.pe.dwChecksum},
                 {"securityDirectory", {{"offset", layout.pe.dwSecurityOffset}, {"size", layout.pe.dwSecuritySize}}}};
    doc["stubCertificateLength"] = layout.dwStubCertificateLength;
    Json entries = Json::array();
    for (const PackageEntryInfo& entry : layout.entries) {
        entries.push_back({{"name", ToUtf8(entry.strName)},
                           {"type", entry.dwType},
                           {"typeName", PackageFileTypeName(entry.dwType)},
                           {"size", entry.ullSize},
                           {"offset", entry.ullOffset}});
    }
    doc["table"] = {{"offset", layout.ullTableOffset},
                    {"version", layout.dwTableVersion},
                    {"count", layout.ullEntryCount},
                    {"pointerArchiveLength", layout.dwPointerArchiveLength},
                    {"entries", entries}};
    doc["signed"] = layout.bSigned;
    doc["certificateLength"] = layout.dwCertificateLength;
    doc["signatureCheck"] = Hex32(static_cast<DWORD>(lSignature));
    if (layout.bHasSettingsBlock)
        doc["settingsBlock"] = {{"offset", layout.dwSettingsBlockOffset},
                                {"size", layout.dwSettingsBlockSize},
                                {"version", layout.dwSettingsBlockVersion}};
    else
        doc["settingsBlock"] = nullptr;
    Json settings = Json::object();
    Json list = Json::array();
    if (bSettingsRead) {
        std::string strProblem;
        if (!SaveSettingsJson(spSettings.Get(), settings, strProblem))
            doc["settingsError"] = strProblem;
        AddSettingsList(spSettings.Get(), list);
    } else if (layout.bHasSettingsBlock) {
        doc["settingsError"] = strSettingsError;
    }
    doc["settings"] = settings;
    doc["settingsList"] = list;

    if (bJson) {
        WriteOut(doc.dump(2) + "\n");
        return bSettingsRead || !layout.bHasSettingsBlock ? kExitOk : kExitFailed;
    }

    std::string out;
    out += "Package " + ToUtf8(strPackage) + ", " + std::to_string(layout.pe.ullFileSize) + " bytes\n";
    out += "  PE: " + std::string(layout.pe.bPE32Plus ? "PE32+" : "PE32") + " " + MachineName(layout.pe.wMachine) +
           ", end of image " + Hex64(layout.pe.dwEndOfImage) + ", checksum " + Hex32(layout.pe.dwChecksum) +
           ", security directory " + Hex64(layout.pe.dwSecurityOffset) + " + " + Hex64(layout.pe.dwSecuritySize) + "\n";
    out += "  Stub certificate: " +
           (layout.dwStubCertificateLength ? std::to_string(layout.dwStubCertificateLength) + " bytes"
                                           : std::string("none (unsigned stub)")) + "\n";
    out += "  Package table at " + Hex64(layout.ullTableOffset) + ": version " + std::to_string(layout.dwTableVersion) +
           ", " + std::to_string(layout.ullEntryCount) + " entries, pointer archive " +
           std::to_string(layout.dwPointerArchiveLength) + " bytes\n";
    for (const PackageEntryInfo& entry : layout.entries) {
        out += "    " + ToUtf8(entry.strName) + "  type " + PackageFileTypeName(entry.dwType) + " (" +
               std::to_string(entry.dwType) + ")  " + std::to_string(entry.ullSize) + " bytes at " +
               Hex64(entry.ullOffset) + "\n";
    }
    out += "  Signed: " + (layout.bSigned ? "yes, certificate of " + std::to_string(layout.dwCertificateLength) + " bytes"
                                          : std::string("no")) +
           "; WinVerifyTrust " + Hex32(static_cast<DWORD>(lSignature)) + (lSignature == 0 ? " (valid)" : "") + "\n";
    if (!layout.bHasSettingsBlock) {
        out += "  Settings: none\n";
    } else {
        out += "  Settings block at " + Hex64(layout.dwSettingsBlockOffset) + ", " +
               std::to_string(layout.dwSettingsBlockSize) + " bytes, version " +
               std::to_string(layout.dwSettingsBlockVersion) + "\n";
        if (!bSettingsRead)
            out += "    (cannot be read: " + strSettingsError + ")\n";
        for (const Json& item : list) {
            out += "    " + std::to_string(item["key"].get<DWORD>()) + "  " +
                   (item["name"].is_null() ? std::string("-") : item["name"].get<std::string>()) + "  " +
                   item["type"].get<std::string>() + "  " +
                   (item.contains("value") ? ShowValue(item["value"]) : "(" + item["error"].get<std::string>() + ")") +
                   "\n";
        }
    }
    WriteOut(out);
    return bSettingsRead || !layout.bHasSettingsBlock ? kExitOk : kExitFailed;
}

int CommandSettings(const Arguments& args)
{
    if (args.size() < 2)
        return Usage("settings: give an action (get, set, remove, import, export) and the package");
    const std::wstring& strAction = args[0];
    const std::wstring& strPackage = args[1];
    std::string strError;
    if (GetFileAttributesW(strPackage.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Fail(ToUtf8(strPackage) + ": the file does not exist");
    CSmartPtr<IKeyValueCollection> spSettings;
    if (!ReadPackageSettings(strPackage, spSettings, nullptr, strError))
        return Fail(strError);

    if (strAction == L"export") {
        if (args.size() != 3)
            return Usage("settings export: give the package and the JSON file to write");
        Json doc;
        if (!SaveSettingsJson(spSettings.Get(), doc, strError) || !WriteJsonFile(args[2], doc, strError))
            return Fail(strError);
        return kExitOk;
    }
    if (strAction == L"import") {
        if (args.size() != 3)
            return Usage("settings import: give the package and the JSON file to read");
        CSmartPtr<IKeyValueCollection> spNew;
        if (!LoadSettingsFile(args[2], spNew, strError) || !WriteAndCheckSettings(strPackage, spNew.Get(), strError))
            return Fail(strError);
        return kExitOk;
    }
    if (args.size() < 3)
        return Usage("settings " + ToUtf8(strAction) + ": give the package and the setting");
    const std::string strKey = ToUtf8(args[2]);
    DWORD dwKey = 0;
    if (!ResolveSettingKey(strKey, &dwKey, strError))
        return Fail("command line: " + strError);
    const SettingName* pName = FindSettingByKey(dwKey);

    if (strAction == L"get") {
        if (args.size() != 3)
            return Usage("settings get: give the package and the setting only");
        if (!spSettings->Exists(dwKey))
            return Fail(ToUtf8(strPackage) + ": " + DescribeKey(dwKey) + " is not set");
        Json value;
        if (!GetValueAsJson(spSettings.Get(), dwKey, value, strError))
            return Fail(strError);
        WriteOut((value.is_string() ? value.get<std::string>() : value.dump()) + "\n");
        return kExitOk;
    }
    if (strAction == L"remove") {
        if (args.size() != 3)
            return Usage("settings remove: give the package and the setting only");
        if (pName && pName->bRequired)
            return Fail(DescribeKey(dwKey) + " is required and cannot be removed");
        if (!spSettings->Exists(dwKey))
            return Fail(ToUtf8(strPackage) + ": " + DescribeKey(dwKey) + " is not set");
        if (!spSettings->Remove(dwKey) || !WriteAndCheckSettings(strPackage, spSettings.Get(), strError))
            return Fail(strError.empty() ? "the setting cannot be removed" : strError);
        return kExitOk;
    }
    if (strAction == L"set") {
        BYTE bType = 0;
        std::string strValue;
        if (args.size() == 5) {
            if (!ParseValueTypeName(ToUtf8(args[3]), &bType))
                return Fail("command line: unknown type \"" + ToUtf8(args[3]) + "\" (types: " + ListValueTypeNames() + ")");
            if (pName && pName->bType != bType)
                return Fail("command line: " + DescribeKey(dwKey) + " must be a " + GetValueTypeName(pName->bType) +
                            ", not a " + GetValueTypeName(bType));
            strValue = ToUtf8(args[4]);
        } else if (args.size() == 4) {
            if (!pName)
                return Fail("command line: " + DescribeKey(dwKey) + " is not a named setting: give its type");
            bType = pName->bType;
            strValue = ToUtf8(args[3]);
        } else {
            return Usage("settings set: give the package, the setting, its type (for a key number) and the value");
        }
        Json value;
        if (!ValueFromCommandLine(bType, strValue, value, strError))
            return Fail("command line: " + DescribeKey(dwKey) + ": " + strError);
        if (!SetValueFromJson(spSettings.Get(), dwKey, bType, value, "command line", strError) ||
            !WriteAndCheckSettings(strPackage, spSettings.Get(), strError))
            return Fail(strError);
        return kExitOk;
    }
    return Usage("settings: unknown action \"" + ToUtf8(strAction) + "\"");
}

int CommandExtract(const Arguments& args)
{
    if (args.size() != 2)
        return Usage("extract: give the package and the folder to write into");
    const std::wstring& strPackage = args[0];
    const std::wstring& strFolder = args[1];
    std::string strError;
    PackageLayout layout;
    if (!ReadPackageLayout(strPackage, layout, strError))
        return Fail(strError);
    // Names come from the file: nothing but a plain file name is written, and no entry may land
    // on the file of another (A.7z and a.7z are one file in a Windows folder).
    std::set<std::wstring> names;
    for (const PackageEntryInfo& entry : layout.entries) {
        if (!IsPlainFileName(entry.strName))
            return Fail(ToUtf8(strPackage) + ": entry name \"" + ToUtf8(entry.strName) + "\" is not a plain file name");
        if (!AddDistinctEntryName(names, entry.strName))
            return Fail(ToUtf8(strPackage) + ": entry name \"" + ToUtf8(entry.strName) +
                        "\" is given twice (names are compared without case); each entry needs its own file");
    }
    if (!CreateDirectoryTree(strFolder.c_str()) && GetFileAttributesW(strFolder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Fail(ToUtf8(strFolder) + ": cannot create the folder (error " + std::to_string(GetLastError()) + ")");
    std::vector<std::wstring> written;
    const bool bOk = ExtractWithPackageReader(strPackage, strFolder, written, strError);
    for (const std::wstring& strPath : written)
        WriteOut(ToUtf8(strPath) + "\n");
    return bOk ? kExitOk : Fail(strError);
}

int RunBootpack(const Arguments& args)
{
    if (args.empty())
        return Usage("give a command");
    const std::wstring& strCommand = args[0];
    const Arguments rest(args.begin() + 1, args.end());
    try {
        if (strCommand == L"build")
            return CommandBuild(rest);
        if (strCommand == L"inspect")
            return CommandInspect(rest);
        if (strCommand == L"settings")
            return CommandSettings(rest);
        if (strCommand == L"extract")
            return CommandExtract(rest);
        if (strCommand == L"help" || strCommand == L"--help" || strCommand == L"-h" || strCommand == L"/?") {
            WriteOut(UsageText());
            return kExitOk;
        }
    } catch (const std::exception&) {
        return Fail("out of memory");
    }
    return Usage("unknown command \"" + ToUtf8(strCommand) + "\"");
}
