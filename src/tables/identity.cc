#include "tables/identity.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <ctime>
#include <optional>

namespace tallow {
namespace {

constexpr const char* kOptionalFiles[] = {kCodeMapJan2001File, kCodeMap2001File};

class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_sha256(), nullptr); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256() { EVP_MD_CTX_free(context_); }

  void Add(const std::string& bytes) { EVP_DigestUpdate(context_, bytes.data(), bytes.size()); }

  // One file: name, length and bytes, framed as the header describes.
  void AddFile(const std::string& name, const std::string& bytes) {
    Add(name + "\n" + std::to_string(bytes.size()) + "\n");
    Add(bytes);
  }

  std::string HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
      text.push_back(kHex[digest[i] >> 4]);
      text.push_back(kHex[digest[i] & 0xF]);
    }
    return text;
  }

 private:
  EVP_MD_CTX* context_;
};

std::string PathOf(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : directory + "/" + name;
}

std::string ModifiedText(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  std::tm utc{};
  gmtime_r(&info.st_mtime, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace

std::string DigestOfImages(const TableImages& images) {
  Sha256 sha;
  static const std::string kEmpty;
  for (const char* name : kTableFiles) {
    const auto it = images.find(name);
    sha.AddFile(name, it == images.end() ? kEmpty : it->second);
  }
  for (const char* name : kOptionalFiles) {
    const auto it = images.find(name);
    if (it != images.end()) sha.AddFile(name, it->second);
  }
  return sha.HexDigest();
}

Result<TableIdentity> IdentifyTables(const std::string& directory) {
  TableImages images;
  TableIdentity identity;
  auto take = [&](const char* name, bool optional) -> Status {
    const std::string path = PathOf(directory, name);
    Status readError;
    std::optional<std::string> bytes = ReadWholeFile(path, name, &readError);
    if (!readError.ok()) return readError;
    if (!bytes) {
      if (optional) return Status::Ok();
      return Status::Error(std::string(name) + ": file missing (" + path + ")");
    }
    identity.files.push_back({name, bytes->size(), ModifiedText(path)});
    images[name] = std::move(*bytes);
    return Status::Ok();
  };
  for (const char* name : kTableFiles) {
    if (Status s = take(name, false); !s.ok()) return s;
  }
  for (const char* name : kOptionalFiles) {
    if (Status s = take(name, true); !s.ok()) return s;
  }
  identity.digest = DigestOfImages(images);
  return identity;
}

Result<std::shared_ptr<const TableSet>> LoadTablesWithDigest(const std::string& directory,
                                                             std::string* digest) {
  TableImages read;
  Result<std::shared_ptr<const TableSet>> tables =
      LoadTablesFrom([&](const std::string& name, Status* readError) {
        std::optional<std::string> bytes = ReadWholeFile(PathOf(directory, name), name, readError);
        if (bytes) read[name] = *bytes;
        return bytes;
      });
  if (tables.ok() && digest != nullptr) *digest = DigestOfImages(read);
  return tables;
}

}  // namespace tallow
