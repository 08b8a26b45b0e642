// What the velitems commands share: the module and the item library as any
// host sees them (registration through their entry points, creation through
// COM by ProgID), and the reporting of COM failures.
//
// Thread safety: the functions keep no state; a command calls Init per thread
// (CoInitializeEx) before using COM there.
#pragma once

#include <string>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "contract/VelItemsLib.h"
#include "platform/com/comdef.h"

namespace velitems {

inline constexpr char16_t kFactoryProgId[] = u"VelItemPlugins.VelItemPluginFactory";

// COM for the calling thread.
void InitCom();

// libVelItems.so, libVelItemPlugins.so and the media graph the video plugin
// reads with (libveldshow.so), in the folder of the running binary.
std::vector<std::u16string> DefaultModules();
// Loads each module and calls DllRegisterServer (or DllUnregisterServer);
// messages on standard error. True when every module succeeded.
bool RegisterModules(const std::vector<std::u16string>& modules, bool doRegister, bool quiet);
// Registers the default modules when the factory's or the item's ProgID does
// not lead to a registered class. False (message written) when that failed.
bool EnsureRegistered();

// An object created by ProgID (HKCR\<ProgID>\CLSID); a failure is written to
// standard error and gives null.
ComPtr<IVelItemPluginFactory> CreateFactory();
ComPtr<IVelItem> CreateItem();
// Loads the module of the host's item classes, making no item; quiet when it
// cannot (a read then reports that). velitems read does this before its
// workers start: every plugin makes items, and a worker's first load of the
// module would wait for any library the read-ahead is loading at that moment
// (the dynamic loader takes one at a time, even one already loaded).
void LoadItemModule();
ComPtr<IVelEnum> CreateEnum();
// The plugin's name (get_Name) in UTF-8; empty when it answers none.
std::string PluginName(IVelItemPlugin* plugin);
// COM started, the modules registered first, the plugin the factory picks for
// file; null after the reason was printed.
ComPtr<IVelItemPlugin> PluginForFile(const std::string& file);

// The description of the thread's error info (the module's report XML), or
// the HRESULT's text when there is none.
std::string ErrorText(HRESULT hr);
// "velitems: <what>: <reason>" on standard error; with --verbose the error
// text (the report's XML) follows.
void ReportFailure(const std::string& what, HRESULT hr);
// The human reason of an error text: the innermost description of a report's
// XML, or the text itself when it is no report; the HRESULT's text when empty.
std::string ReasonOf(const std::string& errorText, HRESULT hr);
// --verbose: failures print the whole report, not only its reason.
void SetVerbose(bool verbose);
bool Verbose();
std::string HrText(HRESULT hr);  // "0x80045D53"

std::string Narrow(std::u16string_view text);
std::u16string Wide(std::string_view text);
std::string BstrUtf8(BSTR text);

}  // namespace velitems
