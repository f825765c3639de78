#include "oath/OtpCredentialList.h"

#include <algorithm>

OtpCredential* OtpCredentialList::Find(std::string_view name) const {
  for (const auto& record : records_) {
    if (record->Name == name) return record.get();
  }
  return nullptr;
}

bool OtpCredentialList::Contains(const OtpCredential* record) const {
  if (record == nullptr) return false;
  return std::any_of(records_.begin(), records_.end(), [record](const auto& held) { return held.get() == record; });
}

OtpCredential* OtpCredentialList::Add(std::unique_ptr<OtpCredential> record) {
  if (record == nullptr) return nullptr;
  records_.push_back(std::move(record));
  return records_.back().get();
}

bool OtpCredentialList::Remove(const OtpCredential* record) {
  const auto found =
      std::find_if(records_.begin(), records_.end(), [record](const auto& held) { return held.get() == record; });
  if (found == records_.end()) return false;
  records_.erase(found);
  return true;
}

void OtpCredentialList::Clear() { records_.clear(); }

OtpCredential* OtpCredentialList::AddListed(std::string_view name) {
  if (Find(name) != nullptr) return nullptr;
  auto record = std::make_unique<OtpCredential>();
  record->Name.assign(name);
  return Add(std::move(record));
}

OtpCredential* OtpCredentialList::ApplyWritten(std::string_view name, const SecureBytes& key, int digits,
                                               std::string_view imf, bool& created) {
  OtpCredential* record = Find(name);
  created = record == nullptr;
  if (created) {
    record = Add(std::make_unique<OtpCredential>());
  }
  record->Name.assign(name);
  record->Key = key;
  record->Digits = digits;
  record->Imf.assign(imf);
  record->MatchCount = 0;
  return record;
}
