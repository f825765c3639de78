#pragma once
// A scripted smart-card service behind the PcscApi seam: every call's result is configurable,
// transmitted APDUs get their answers from a script (or a responder once the script runs out),
// and everything sent is recorded for the test to inspect.
#include <gtest/gtest.h>
#include <PCSC/pcsclite.h>

#include <cstring>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/Conversions.h"
#include "device/PcscApi.h"

class ScriptedPcscApi : public PcscApi {
 public:
  using Bytes = std::vector<BYTE>;
  struct Answer {
    LONG result = SCARD_S_SUCCESS;
    Bytes bytes;
  };

  static Bytes Hex(const std::string& text) {
    Bytes bytes(text.size());
    bytes.resize(HexToBytes(text, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    return bytes;
  }
  static std::string ToHex(const Bytes& bytes) {
    return BytesToHex(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  // The service's multi-string for these names.
  static std::vector<char> MultiString(const std::vector<std::string>& names) {
    std::vector<char> multi;
    for (const auto& name : names) {
      multi.insert(multi.end(), name.begin(), name.end());
      multi.push_back('\0');
    }
    multi.push_back('\0');
    return multi;
  }

  void Answers(std::initializer_list<const char*> hexAnswers) {
    for (const char* hex : hexAnswers) answers.push_back({SCARD_S_SUCCESS, Hex(hex)});
  }
  // Forgets every context and handle, as a restarted service does.
  void Restart() {
    liveContexts.clear();
    liveHandles.clear();
  }
  bool Balanced() const { return liveContexts.empty() && liveHandles.empty(); }

  // Configurable results.
  LONG establishResult = SCARD_S_SUCCESS;
  LONG listResult = SCARD_S_SUCCESS;
  std::vector<char> readers = MultiString({"Virtual PCD 00 00"});
  LONG connectResult = SCARD_S_SUCCESS;
  DWORD activeProtocol = SCARD_PROTOCOL_T0;
  LONG statusResult = SCARD_S_SUCCESS;
  Bytes atr = {0x3B, 0x02, 0x14, 0x50};
  LONG attribResult = SCARD_E_UNSUPPORTED_FEATURE;
  std::deque<Answer> answers;
  std::function<Answer(const Bytes&)> responder;
  std::function<std::string(LONG)> errorText = [](LONG code) { return pcsc_stringify_error(code); };

  // What the transport did.
  std::vector<Bytes> sent;
  std::vector<DWORD> sentProtocols;
  std::vector<std::string> connectNames;
  std::vector<DWORD> connectShareModes;
  std::vector<DWORD> connectPreferred;
  std::vector<DWORD> disconnectDispositions;
  int contextsEstablished = 0;

  LONG EstablishContext(SCARDCONTEXT* context) override {
    if (establishResult != SCARD_S_SUCCESS) return establishResult;
    *context = nextContext++;
    liveContexts.insert(*context);
    ++contextsEstablished;
    return SCARD_S_SUCCESS;
  }
  LONG ReleaseContext(SCARDCONTEXT context) override {
    if (liveContexts.erase(context) == 0) return SCARD_E_INVALID_HANDLE;
    return SCARD_S_SUCCESS;
  }
  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override {
    if (liveContexts.count(context) == 0) return SCARD_E_INVALID_HANDLE;
    if (listResult != SCARD_S_SUCCESS) return listResult;
    multiString = readers;
    return SCARD_S_SUCCESS;
  }
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode,
               DWORD preferredProtocols, SCARDHANDLE* card, DWORD* active) override {
    connectNames.push_back(readerName);
    connectShareModes.push_back(shareMode);
    connectPreferred.push_back(preferredProtocols);
    if (liveContexts.count(context) == 0) return SCARD_E_INVALID_HANDLE;
    if (connectResult != SCARD_S_SUCCESS) return connectResult;
    *card = nextHandle++;
    *active = activeProtocol;
    liveHandles.insert(*card);
    return SCARD_S_SUCCESS;
  }
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
    disconnectDispositions.push_back(disposition);
    if (liveHandles.erase(card) == 0) return SCARD_E_INVALID_HANDLE;
    return SCARD_S_SUCCESS;
  }
  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength,
                BYTE* receive, DWORD* receiveLength) override {
    if (liveHandles.count(card) == 0) return SCARD_E_INVALID_HANDLE;
    Bytes command(send, send + sendLength);
    sent.push_back(command);
    sentProtocols.push_back(protocol);
    Answer answer;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    } else if (responder) {
      answer = responder(command);
    } else {
      ADD_FAILURE() << "unscripted APDU " << ToHex(command);
      return SCARD_E_NOT_TRANSACTED;
    }
    if (answer.result != SCARD_S_SUCCESS) return answer.result;
    if (answer.bytes.size() > *receiveLength) return SCARD_E_INSUFFICIENT_BUFFER;
    if (!answer.bytes.empty()) std::memcpy(receive, answer.bytes.data(), answer.bytes.size());
    *receiveLength = static_cast<DWORD>(answer.bytes.size());
    return SCARD_S_SUCCESS;
  }
  LONG GetAttrib(SCARDHANDLE card, DWORD, std::vector<BYTE>& value) override {
    value.clear();
    if (liveHandles.count(card) == 0) return SCARD_E_INVALID_HANDLE;
    return attribResult;
  }
  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atrOut, DWORD* state, DWORD* protocol) override {
    if (liveHandles.count(card) == 0) return SCARD_E_INVALID_HANDLE;
    if (statusResult != SCARD_S_SUCCESS) return statusResult;
    atrOut = atr;
    if (state) *state = SCARD_SPECIFIC;
    if (protocol) *protocol = activeProtocol;
    return SCARD_S_SUCCESS;
  }
  LONG GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD) override {
    return SCARD_E_TIMEOUT;
  }
  LONG Cancel(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
  std::string ErrorText(LONG code) override { return errorText(code); }

 private:
  SCARDCONTEXT nextContext = 0x1000;
  SCARDHANDLE nextHandle = 0x2000;
  std::set<SCARDCONTEXT> liveContexts;
  std::set<SCARDHANDLE> liveHandles;
};
