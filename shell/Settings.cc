#include "shell/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "surf/files/SafeWrite.h"

namespace shell {

namespace fs = std::filesystem;

struct Settings::Subscription {
  std::string path;
  pugi::xpath_query query;
  ChangeHandler handler;
};

namespace {

constexpr const char* kSchemaFile = "xaml/Settings.xaml";
constexpr const char* kSettingsFolder = "Settings";

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string AccountName() {
  if (const passwd* account = getpwuid(geteuid()); account && account->pw_name && account->pw_name[0])
    return account->pw_name;
  if (const char* user = std::getenv("USER"); user && user[0]) return user;
  return "user";
}

// saving absent or "true" (any case).
bool IsSaved(pugi::xml_node element) {
  const pugi::xml_attribute saving = element.attribute("saving");
  if (!saving) return true;
  std::string lower(saving.value());
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower == "true";
}

// Every element below node, in document order.
std::vector<pugi::xml_node> Elements(pugi::xml_node node) {
  std::vector<pugi::xml_node> elements;
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    elements.push_back(child);
    const auto below = Elements(child);
    elements.insert(elements.end(), below.begin(), below.end());
  }
  return elements;
}

// The element a query result stands for (an attribute's owner).
pugi::xml_node ElementOf(const pugi::xpath_node& node) { return node.node() ? node.node() : node.parent(); }

pugi::xpath_query CompileQuery(const std::string& path, pugi::xpath_variable_set* variables = nullptr) {
  try {
    return pugi::xpath_query(path.c_str(), variables);
  } catch (const pugi::xpath_exception& e) {
    throw std::invalid_argument("Settings - Invalid setting path '" + path + "': " + e.what());
  }
}

void RemoveComments(pugi::xml_node node) {
  for (pugi::xml_node child = node.first_child(); child;) {
    const pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_comment) {
      node.remove_child(child);
    } else if (child.type() == pugi::node_element) {
      RemoveComments(child);
    }
    child = next;
  }
}

bool HasElements(const pugi::xml_node node) {
  for (pugi::xml_node child : node.children())
    if (child.type() == pugi::node_element) return true;
  return false;
}

// Removes, bottom-up, every element without a value that has no child
// element left.
void RemoveEmptyLeaves(pugi::xml_node node) {
  for (pugi::xml_node child = node.first_child(); child;) {
    const pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_element) {
      RemoveEmptyLeaves(child);
      if (!HasElements(child) && !child.attribute("value")) {
        node.remove_child(child);
      }
    }
    child = next;
  }
}

// The schema reduced to what the user file keeps.
void PruneForSaving(pugi::xml_document& document) {
  RemoveComments(document);
  std::vector<pugi::xml_node> elements = Elements(document);
  // Descendants before their ancestors, so no removed node is visited.
  std::reverse(elements.begin(), elements.end());
  std::vector<pugi::xml_node> unsaved;
  for (pugi::xml_node element : elements) {
    if (!IsSaved(element)) unsaved.push_back(element);
  }
  for (pugi::xml_node element : unsaved) element.parent().remove_child(element);

  elements = Elements(document);
  std::reverse(elements.begin(), elements.end());
  for (pugi::xml_node element : elements) {
    const pugi::xml_attribute value = element.attribute("value");
    if (!value) continue;
    if (std::string(value.value()) == element.attribute("defaultvalue").value()) {
      element.parent().remove_child(element);
      continue;
    }
    const std::string text = value.value();
    const pugi::xml_attribute titleAttribute = element.attribute("title");
    const bool hasTitle = titleAttribute;
    const std::string title = titleAttribute.value();
    element.remove_attributes();
    if (hasTitle) element.append_attribute("title").set_value(title.c_str());
    element.append_attribute("value").set_value(text.c_str());
  }
  RemoveEmptyLeaves(document);
}

}  // namespace

Settings::Settings(SettingsOptions options)
    : m_options(std::move(options)),
      m_log(m_options.log ? m_options.log : StdoutLogSink()),
      m_computer(m_options.computerName.empty() ? HostName() : m_options.computerName),
      m_user(m_options.userName.empty() ? AccountName() : m_options.userName),
      m_settingsFolder(m_options.root / kSettingsFolder) {
  if (!m_options.error) m_options.error = StderrErrorSink();
  Log("Computer:" + m_computer + ", User:" + m_user);

  m_loadedFile = m_settingsFolder / GetUserSettingsFileName(m_computer, m_user, false, false);
  for (const auto& [perComputer, perUser] : {std::pair{true, true}, {true, false}, {false, true}}) {
    const fs::path candidate = m_settingsFolder / GetUserSettingsFileName(m_computer, m_user, perComputer, perUser);
    std::error_code ignored;
    if (fs::is_regular_file(candidate, ignored)) {
      m_loadedFile = candidate;
      break;
    }
  }

  LoadSchema();
  pugi::xml_document user;
  LoadUserFile(user);
  ApplyDefaultsAndUserValues(user);
  m_perUser = GetSetting<bool>("/Settings/SettingsHandling/*[@title='perUser']");
  m_perComputer = GetSetting<bool>("/Settings/SettingsHandling/*[@title='perComputer']");
}

Settings::~Settings() = default;

std::string Settings::GetUserSettingsFileName(const std::string& computer, const std::string& user, bool perComputer,
                                              bool perUser) {
  std::string name = "UserSettings";
  if (perComputer) name += "." + computer;
  if (perUser) name += "." + user;
  return name + ".xml";
}

std::string Settings::GetTitlePath(pugi::xml_node element) {
  std::string path;
  for (pugi::xml_node node = element; node && node.type() == pugi::node_element &&
                                      node.parent().type() == pugi::node_element;
       node = node.parent()) {
    const pugi::xml_attribute title = node.attribute("title");
    path.insert(0, "/" + std::string(title ? title.value() : node.name()));
  }
  return path;
}

void Settings::LoadSchema() {
  const fs::path file = m_options.root / kSchemaFile;
  pugi::xml_document window;
  const pugi::xml_parse_result result = window.load_file(file.c_str());
  if (!result) {
    throw std::runtime_error("Settings::Settings - Could not read the settings schema " + file.string() + ": " +
                             result.description());
  }
  const pugi::xml_node block = window.find_node([](pugi::xml_node node) {
    for (pugi::xml_attribute attribute : node.attributes()) {
      const std::string name = attribute.name();
      if ((name == "x:Key" || name == "Key") && std::string(attribute.value()) == "SettingsData") return true;
    }
    return false;
  });
  const pugi::xml_node root =
      block ? block.find_node([](pugi::xml_node node) { return std::string(node.name()) == "Settings"; })
            : pugi::xml_node();
  if (!root) {
    throw std::runtime_error("Settings::Settings - " + file.string() +
                             " has no SettingsData block with a Settings element.");
  }
  m_document.append_copy(root);
}

void Settings::LoadUserFile(pugi::xml_document& user) {
  Log("Loading " + m_loadedFile.string() + " ...");
  std::error_code error;
  if (!fs::exists(m_loadedFile, error)) {
    Log(" ...not found.");
    fs::create_directories(m_settingsFolder, error);
    if (error || !fs::is_directory(m_settingsFolder)) {
      m_options.error("Error", "Can't create directory '" + m_settingsFolder.string() +
                                   "'\nUsers settings will not be saved on exit!");
      Log("Can't create directory " + m_settingsFolder.string() + " !");
    }
    return;
  }
  std::ifstream in(m_loadedFile, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  if (!in.good() && !in.eof()) {
    Log("Could not read " + m_loadedFile.string() + ". Using the default settings.");
    m_protectLoadedFile = true;
    return;
  }
  // An empty file is what saving writes when nothing differs from the defaults.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return;
  const pugi::xml_parse_result result = user.load_buffer(text.data(), text.size());
  if (!result) {
    user.reset();
    KeepBrokenFileAside(result);
  }
}

void Settings::KeepBrokenFileAside(const pugi::xml_parse_result& result) {
  Log("Could not read " + m_loadedFile.string() + ": " + result.description() + " at byte " +
      std::to_string(result.offset) + ". Using the default settings.");
  fs::path aside = m_loadedFile.string() + ".broken";
  std::error_code error;
  for (int n = 2; fs::exists(aside, error) && n < 1000; ++n) aside = m_loadedFile.string() + ".broken." + std::to_string(n);
  fs::rename(m_loadedFile, aside, error);
  if (error) {
    m_protectLoadedFile = true;
    Log("Could not keep it aside as " + aside.string() + ": " + error.message() +
        ". It will not be overwritten on exit.");
    ReportError("The settings file '" + m_loadedFile.string() +
                "' could not be read. The default settings are used, and the file will not be overwritten.");
    return;
  }
  Log("Kept the unreadable file as " + aside.string() + ".");
  ReportError("The settings file '" + m_loadedFile.string() + "' could not be read. It was kept as '" +
              aside.string() + "', and the default settings are used.");
}

void Settings::ApplyDefaultsAndUserValues(const pugi::xml_document& user) {
  pugi::xpath_variable_set variables;
  variables.set("title", "");
  const pugi::xpath_query byTitle(".//*[@title=$title]", &variables);
  for (pugi::xml_node element : Elements(m_document)) {
    const pugi::xml_attribute defaultValue = element.attribute("defaultvalue");
    if (!defaultValue) continue;
    pugi::xml_attribute value = element.attribute("value");
    if (!value) value = element.append_attribute("value");
    value.set_value(defaultValue.value());
    if (!IsSaved(element) || !user.document_element()) continue;

    pugi::xpath_node_set candidates;
    if (const pugi::xml_attribute title = element.attribute("title")) {
      variables.set("title", title.value());
      candidates = byTitle.evaluate_node_set(user);
    } else {
      candidates = user.select_nodes((std::string(".//*/") + element.name()).c_str());
    }
    const std::string titlePath = GetTitlePath(element);
    for (const pugi::xpath_node& candidate : candidates) {
      const pugi::xml_node match = candidate.node();
      if (GetTitlePath(match) != titlePath) continue;
      const pugi::xml_attribute stored = match.attribute("value");
      if (stored && std::string(stored.value()) != value.value()) value.set_value(stored.value());
      break;
    }
  }
}

pugi::xml_node Settings::FindSettingElement(const std::string& path) const {
  const pugi::xpath_query query = CompileQuery(path + "/@value");
  const pugi::xpath_node found = query.evaluate_node(m_document);
  if (!found) throw SettingNotFound("Error: Could not find Setting " + path);
  return ElementOf(found);
}

void Settings::WarnReassigned(const std::string& title) const {
  Log("WARNING: An already assigned setting variable (" + title + ") will be overwritten.");
}

void Settings::ReportError(const std::string& message) const { m_options.error("Error", message); }

void Settings::SetValue(pugi::xml_node element, const std::string& text) {
  if (!element || element.root() != m_document.root())
    throw std::invalid_argument("Settings::SetValue - The element is not part of the settings document.");
  pugi::xml_attribute value = element.attribute("value");
  if (!value) value = element.append_attribute("value");
  value.set_value(text.c_str());
  Notify(element);
}

void Settings::Notify(pugi::xml_node element) {
  bool valid = true;
  // By index: a handler may add subscriptions.
  for (std::size_t i = 0; i < m_subscriptions.size(); ++i) {
    Subscription& subscription = *m_subscriptions[i];
    if (!subscription.handler) continue;
    const pugi::xpath_node_set selected = subscription.query.evaluate_node_set(m_document);
    for (const pugi::xpath_node& node : selected) {
      if (ElementOf(node) != element) continue;
      const pugi::xml_node parent = element.parent();
      subscription.handler(element.attribute("value").value(),
                           parent.type() == pugi::node_element ? parent.attribute("title").value() : "", element,
                           valid);
      if (!valid) {
        if (!element.attribute("invalid")) element.append_attribute("invalid").set_value("true");
      } else {
        element.remove_attribute("invalid");
      }
    }
  }
}

void Settings::AddSettingChangedEvent(const std::string& path, ChangeHandler handler, bool fireNow) {
  auto subscription = std::make_unique<Subscription>(Subscription{path, CompileQuery(path), std::move(handler)});
  const pugi::xpath_node_set selected = subscription->query.evaluate_node_set(m_document);
  m_subscriptions.push_back(std::move(subscription));
  if (!fireNow) return;
  std::vector<pugi::xml_node> elements;
  for (const pugi::xpath_node& node : selected) elements.push_back(ElementOf(node));
  for (pugi::xml_node element : elements) {
    if (const pugi::xml_attribute value = element.attribute("value")) SetValue(element, value.value());
  }
}

void Settings::SetBinding(std::function<void(const std::string& value)> target, const std::string& path) {
  const pugi::xml_node element = FindSettingElement(path);
  target(element.attribute("value").value());
  AddSettingChangedEvent(
      path, [target = std::move(target)](const std::string& value, const std::string&, pugi::xml_node, bool&) {
        target(value);
      },
      false);
}

bool Settings::HasUserValue(const std::string& path) const {
  const pugi::xpath_node_set selected = CompileQuery(path).evaluate_node_set(m_document);
  for (const pugi::xpath_node& node : selected) {
    std::vector<pugi::xml_node> elements = Elements(ElementOf(node));
    elements.insert(elements.begin(), ElementOf(node));
    for (pugi::xml_node element : elements) {
      const pugi::xml_attribute value = element.attribute("value");
      if (value && std::string(value.value()) != element.attribute("defaultvalue").value()) return true;
    }
  }
  return false;
}

void Settings::ResetToDefaultValue(const std::string& path) {
  const pugi::xpath_node_set selected = CompileQuery(path).evaluate_node_set(m_document);
  std::vector<pugi::xml_node> elements;
  for (const pugi::xpath_node& node : selected) {
    elements.push_back(ElementOf(node));
    const auto below = Elements(ElementOf(node));
    elements.insert(elements.end(), below.begin(), below.end());
  }
  for (pugi::xml_node element : elements) {
    const pugi::xml_attribute defaultValue = element.attribute("defaultvalue");
    if (defaultValue && std::string(element.attribute("value").value()) != defaultValue.value())
      SetValue(element, defaultValue.value());
  }
}

void Settings::ShowDialog(const std::string& path) {
  for (pugi::xml_node element : Elements(m_document)) {
    if (pugi::xml_attribute expanded = element.attribute("IsExpanded")) expanded.set_value("False");
    if (pugi::xml_attribute selected = element.attribute("IsSelected")) selected.set_value("False");
  }
  auto set = [](pugi::xml_node element, const char* name) {
    pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute) attribute = element.append_attribute(name);
    attribute.set_value("True");
  };
  for (const pugi::xpath_node& node : CompileQuery(path).evaluate_node_set(m_document)) {
    const pugi::xml_node element = ElementOf(node);
    set(element, "IsSelected");
    for (pugi::xml_node parent = element.parent(); parent && parent.parent().type() == pugi::node_element;
         parent = parent.parent()) {
      set(parent, "IsExpanded");
    }
  }
}

bool Settings::CloseDialog() {
  const pugi::xpath_node invalid = m_document.select_node("/Settings//*[@invalid]");
  if (!invalid) return true;
  ReportError("Invalid value '" + std::string(invalid.node().attribute("value").value()) + "' in " +
              GetTitlePath(invalid.node()));
  return false;
}

bool Settings::UserSettingsFileExists() const {
  std::error_code ignored;
  return fs::is_regular_file(m_loadedFile, ignored);
}

bool Settings::SaveSettings() {
  const fs::path file =
      m_settingsFolder / GetUserSettingsFileName(m_computer, m_user, m_perComputer.Value(), m_perUser.Value());
  if (file != m_loadedFile && !m_protectLoadedFile) {
    Log("Delete old " + m_loadedFile.string() + " ...");
    std::error_code error;
    fs::remove(m_loadedFile, error);
    Log(error ? "failed!" : "done.");
  }

  pugi::xml_document saved;
  saved.reset(m_document);
  PruneForSaving(saved);

  Log("Saving " + file.string() + " ...");
  const bool written = !(file == m_loadedFile && m_protectLoadedFile) &&
                       surf::WriteStreamSafely(file, [&](std::ostream& out) {
                         if (HasElements(saved)) saved.save(out, "  ");
                         return true;
                       });
  if (!written) {
    Log("failed!");
    ReportError("Can't save user settings to " + file.string());
    return false;
  }
  Log("done.");
  m_loadedFile = file;
  m_protectLoadedFile = false;
  return true;
}

struct SettingsSynchronizer::State {
  Settings* settings = nullptr;
  std::vector<pugi::xml_node> members;
  bool syncing = false;

  void CopyFrom(pugi::xml_node source) {
    if (syncing) return;
    syncing = true;
    const std::string text = source.attribute("value").value();
    for (pugi::xml_node member : members) {
      if (member != source && text != member.attribute("value").value()) settings->SetValue(member, text);
    }
    syncing = false;
  }
};

SettingsSynchronizer::SettingsSynchronizer(Settings& settings)
    : m_settings(settings), m_state(std::make_shared<State>()) {
  m_state->settings = &settings;
}

void SettingsSynchronizer::Add(const std::string& path) {
  m_state->members.push_back(m_settings.FindSettingElement(path));
  std::weak_ptr<State> state = m_state;
  m_settings.AddSettingChangedEvent(
      path,
      [state](const std::string&, const std::string&, pugi::xml_node element, bool&) {
        if (auto alive = state.lock()) alive->CopyFrom(element);
      },
      false);
}

void SettingsSynchronizer::Sync() {
  if (!m_state->members.empty()) m_state->CopyFrom(m_state->members.front());
}

}  // namespace shell
