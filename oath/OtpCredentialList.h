#pragma once
// The records of every credential a panel knows of, in creation order. Names are unique in
// it: a record is only created after a search by name found none.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/SecureBytes.h"
#include "oath/OtpCredential.h"

class OtpCredentialList {
 public:
  OtpCredentialList() = default;
  OtpCredentialList(const OtpCredentialList&) = delete;
  OtpCredentialList& operator=(const OtpCredentialList&) = delete;

  // The first record whose name equals `name` byte for byte; nullptr when there is none.
  OtpCredential* Find(std::string_view name) const;
  // Whether `record` is one of the list's records (compared by identity).
  bool Contains(const OtpCredential* record) const;
  // Appends a record and returns it; the list owns it.
  OtpCredential* Add(std::unique_ptr<OtpCredential> record);
  // Takes `record` out and destroys it (its key is wiped); false when it is not in the list.
  bool Remove(const OtpCredential* record);
  // Destroys every record.
  void Clear();
  std::size_t Size() const { return records_.size(); }
  const std::vector<std::unique_ptr<OtpCredential>>& Records() const { return records_; }

  // A name from a list answer: a new record with an empty key, 6 digits and no imf, or nullptr
  // when a record of that name exists already (it is left as it is).
  OtpCredential* AddListed(std::string_view name);

  // After a successful write: the record of that name is rewritten (key, digits, imf; match count
  // back to 0), or a new one is made. `created` tells which.
  OtpCredential* ApplyWritten(std::string_view name, const SecureBytes& key, int digits, std::string_view imf,
                              bool& created);

 private:
  std::vector<std::unique_ptr<OtpCredential>> records_;
};
