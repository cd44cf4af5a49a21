#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shell/Log.h"

namespace shell {

// A setting path that selects nothing: "Error: Could not find Setting " + path.
class SettingNotFound : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The text form of setting values (invariant culture). Parsing trims
// surrounding white space; bool reads "true"/"false" in any case; int reads
// a decimal 32-bit number with an optional sign; float and double first
// replace every "," by "." and read a finite number; text is taken as it is.
// Formatting gives "true"/"false", decimal integers and the shortest text
// that reads back to the same float or double.
template <class T>
bool ParseSettingText(std::string_view text, T& value);
template <class T>
std::string FormatSettingText(const T& value);
template <> bool ParseSettingText<bool>(std::string_view text, bool& value);
template <> bool ParseSettingText<int>(std::string_view text, int& value);
template <> bool ParseSettingText<float>(std::string_view text, float& value);
template <> bool ParseSettingText<double>(std::string_view text, double& value);
template <> bool ParseSettingText<std::string>(std::string_view text, std::string& value);
template <> std::string FormatSettingText<bool>(const bool& value);
template <> std::string FormatSettingText<int>(const int& value);
template <> std::string FormatSettingText<float>(const float& value);
template <> std::string FormatSettingText<double>(const double& value);
template <> std::string FormatSettingText<std::string>(const std::string& value);

class Settings;

// A typed handle on the `value` attribute of one setting element, for T in
// bool, int, float, double and std::string. Reading converts the text; text
// that does not convert is logged and the default is returned (the stored
// text stays). Writing stores the text form and notifies the subscribers.
// A handle must not outlive its Settings.
template <class T>
class Setting {
 public:
  Setting() = default;

  bool IsAssigned() const { return m_settings != nullptr; }
  T Value() const;
  void SetValue(const T& value);
  T DefaultValue() const;
  // The element's attribute name, empty when absent.
  std::string GetAttribute(const std::string& name) const;
  // The element's title (its element name when it has none).
  std::string GetTitle() const;
  pugi::xml_node GetElement() const { return m_element; }

 private:
  friend class Settings;
  Setting(Settings* settings, pugi::xml_node element) : m_settings(settings), m_element(element) {}

  Settings* m_settings = nullptr;
  pugi::xml_node m_element;
};

// Where the settings live and where their messages go.
struct SettingsOptions {
  // The installation folder (data root): the schema is
  // root/xaml/Settings.xaml, the user files are in root/Settings.
  std::filesystem::path root;
  std::string computerName;  // empty: gethostname
  std::string userName;      // empty: the account name (getpwuid), else $USER
  LogSink log;               // empty: standard output
  ErrorSink error;           // the message box; empty: "Error: " + message on standard error
};

// The settings store: every setting of the application in one XML document.
//
// The schema is the `SettingsData` block of the settings window description
// (the element with x:Key="SettingsData"; its `Settings` element is the
// document). Setting elements nest in group elements; each may carry
// `title` (its key), `defaultvalue`, `value` (added at load), `saving`
// ("false": never written to nor read from the user file), `invalid` (while
// a change handler rejects the value), `IsExpanded` and `IsSelected`. Paths
// are XPath, "/Settings/<Group>/…/*[@title='<Key>']".
//
// The user file, in root/Settings, is "UserSettings" + ".<computer>" when
// perComputer + ".<user>" when perUser + ".xml" and holds only values that
// differ from the defaults, matched to the schema by title path. A user
// file that does not parse is renamed to "<file>.broken" (".broken.2" … if
// that exists) and the defaults are used, so the next save cannot overwrite
// it; saving replaces the file in one rename, never leaving half of it.
//
// Single-threaded: use from the user-interface thread only.
class Settings {
 public:
  // value, the parent's title (empty if none), the changed element, and the
  // validity flag (true until a handler clears it).
  using ChangeHandler = std::function<void(const std::string& value, const std::string& parentTitle,
                                           pugi::xml_node element, bool& valid)>;

  // Loads the schema and the user file. Throws std::runtime_error
  // ("Settings::Settings - …") when the schema cannot be read or has no
  // SettingsData block; a missing or broken user file only logs.
  explicit Settings(SettingsOptions options);
  ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // The handle of the first element that path selects; throws
  // SettingNotFound when it selects no element with a value, and
  // std::invalid_argument for a path that is not XPath.
  template <class T>
  Setting<T> GetSetting(const std::string& path) {
    return Setting<T>(this, FindSettingElement(path));
  }
  // The same into an existing variable; logs a warning when it was already
  // assigned.
  template <class T>
  void GetSetting(Setting<T>& handle, const std::string& path) {
    const pugi::xml_node element = FindSettingElement(path);
    if (handle.IsAssigned()) WarnReassigned(handle.GetTitle());
    handle = Setting<T>(this, element);
  }
  pugi::xml_node FindSettingElement(const std::string& path) const;

  // Appends (path, handler) to the subscriptions; every change of the value
  // of an element that path selects calls handler, subscriptions in the
  // order added. With fireNow every selected element's value is assigned
  // to itself at once (which calls every subscriber of those elements).
  void AddSettingChangedEvent(const std::string& path, ChangeHandler handler, bool fireNow);
  // One-way binding: target receives the current value now and every new one.
  void SetBinding(std::function<void(const std::string& value)> target, const std::string& path);

  // Whether an element path selects, or one below it, differs from its default.
  bool HasUserValue(const std::string& path) const;
  // Sets the elements path selects, and those below them, to their defaults.
  void ResetToDefaultValue(const std::string& path);
  // Prepares the tree of the advanced-settings dialog: every node collapsed
  // and deselected, then the nodes path selects selected and their
  // ancestors expanded. The window itself belongs to the desktop application.
  void ShowDialog(const std::string& path);
  // Whether the dialog may close: false, with an "Error" message naming the
  // first invalid value and its title path, while an element is `invalid`.
  bool CloseDialog();

  bool UserSettingsFileExists() const;
  // The file the values were loaded from (or will be saved to first).
  std::filesystem::path GetUserSettingsFilePath() const { return m_loadedFile; }
  pugi::xml_document& GetXmlDocument() { return m_document; }
  // Writes the values that differ from their defaults to the user file the
  // current perComputer and perUser choose, deleting the file loaded before
  // when that differs. False (logged and reported) when it cannot be written.
  bool SaveSettings();

  // Sets the element's value text and notifies the subscribers; every value
  // change goes through here.
  void SetValue(pugi::xml_node element, const std::string& text);

  const std::string& GetComputerName() const { return m_computer; }
  const std::string& GetUserName() const { return m_user; }
  void Log(const std::string& line) const { m_log(line); }

  // "/" + title (or element name) for every element from below the root
  // element down to element.
  static std::string GetTitlePath(pugi::xml_node element);
  static std::string GetUserSettingsFileName(const std::string& computer, const std::string& user, bool perComputer,
                                             bool perUser);

 private:
  struct Subscription;

  void LoadSchema();
  void LoadUserFile(pugi::xml_document& user);
  void KeepBrokenFileAside(const pugi::xml_parse_result& result);
  void ApplyDefaultsAndUserValues(const pugi::xml_document& user);
  void Notify(pugi::xml_node element);
  void WarnReassigned(const std::string& title) const;
  void ReportError(const std::string& message) const;

  SettingsOptions m_options;
  LogSink m_log;
  std::string m_computer;
  std::string m_user;
  std::filesystem::path m_settingsFolder;
  std::filesystem::path m_loadedFile;
  bool m_protectLoadedFile = false;  // a broken file that could not be moved aside
  pugi::xml_document m_document;
  std::vector<std::unique_ptr<Subscription>> m_subscriptions;
  Setting<bool> m_perUser;
  Setting<bool> m_perComputer;
};

// Keeps settings of the same meaning equal: when one member changes, every
// other member takes its text. Members are compared and copied as text.
class SettingsSynchronizer {
 public:
  explicit SettingsSynchronizer(Settings& settings);
  // Adds the setting at path (throws SettingNotFound).
  void Add(const std::string& path);
  // Gives every member the value of the first one added.
  void Sync();

 private:
  struct State;
  Settings& m_settings;
  std::shared_ptr<State> m_state;
};

}  // namespace shell
