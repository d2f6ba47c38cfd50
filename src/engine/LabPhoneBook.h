#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/Entry.h"

// The lab facility keeps its phone-book as readable text: one "[name]" section per entry and one
// "member=value" line per entry member, so people and tests can read every value.
namespace veltrin::engine::lab {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Section {
    std::string name;
    Fields fields;
};

struct PhoneBookFile {
    std::vector<Section> sections;

    Section* find(const std::string& name);
    const Section* find(const std::string& name) const;
    void put(const std::string& name, Fields fields);  // replaces a section of the same name
    bool erase(const std::string& name);
};

// Nothing when the file cannot be read; an empty book when it does not exist.
std::optional<PhoneBookFile> loadPhoneBook(const std::filesystem::path& path);

// Written whole to a temporary file and renamed into place; mode 0600 (credentials live beside).
bool savePhoneBook(const std::filesystem::path& path, const PhoneBookFile& book);

std::string serialise(const PhoneBookFile& book);
PhoneBookFile parsePhoneBook(const std::string& text);

Fields entryFields(const VpnEntry& entry);
Fields credentialFields(const Credentials& credentials);
std::optional<std::string> field(const Fields& fields, const std::string& key);

// Where the credentials of a phone-book are kept.
std::filesystem::path credentialsPath(const std::filesystem::path& phoneBook);

}  // namespace veltrin::engine::lab
