#include "device/PcscInterface.h"

#include <PCSC/pcsclite.h>
#include <PCSC/reader.h>
#include <openssl/crypto.h>

#include <type_traits>
#include <utility>
#include <vector>

#include "core/Conversions.h"
#include "device/PcscApi.h"
#include "device/PcscErrors.h"
#include "core/Translate.h"

using tokvane::Tr;

static_assert(std::is_same_v<SCARDHANDLE, long> && std::is_same_v<SCARDCONTEXT, long> &&
                  sizeof(long) == sizeof(CPcscInterface::Handle),
              "the service's handles must fit CPcscInterface::Handle");

namespace {

constexpr const char* kAlreadyDisconnectedText = N_("Interface already disconnected.");
constexpr const char* kProtocolNotSupportedText = N_("Protocol not supported.");
constexpr const char* kContactlessNotSupportedText = N_("CL TypeA and TypeB not Supported.");
constexpr const char* kAnswerTooLongText = N_("The card's response is longer than 65535 bytes.");

// Room for the longest response APDU plus slack, as the service expects a fixed buffer.
constexpr DWORD kReceiveCapacity = 65538;

bool PreferredProtocols(int protocolSelector, DWORD* protocols) {
  switch (protocolSelector) {
    case ProtocolT0:
      *protocols = SCARD_PROTOCOL_T0;
      return true;
    case ProtocolT1:
      *protocols = SCARD_PROTOCOL_T1;
      return true;
    case ProtocolAnyOrRaw:
      *protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
      return true;
    default:
      return false;
  }
}

DWORD ServiceProtocol(int protocolSelector) {
  if (protocolSelector == ProtocolT0) return SCARD_PROTOCOL_T0;
  if (protocolSelector == ProtocolT1) return SCARD_PROTOCOL_T1;
  return SCARD_PROTOCOL_RAW;
}

}  // namespace

CPcscInterface::CPcscInterface(const std::string& readerName, std::shared_ptr<PcscApi> api)
    : Api(api ? std::move(api) : SystemPcscApi()),
      ReaderName(AnsiToWide(readerName)),
      NarrowReaderName(readerName) {}

CPcscInterface::~CPcscInterface() {
  Close();
  // A refused disconnect still must not leak the context.
  DropConnection();
}

bool CPcscInterface::Open() {
  Close();
  // A connection the service refused to end (it restarted, say) is stale: start afresh.
  DropConnection();

  SCARDCONTEXT context = 0;
  const LONG established = Api->EstablishContext(&context);
  if (established != SCARD_S_SUCCESS) {
    SetErrorFromCode(established);
    return false;
  }
  Context = static_cast<Handle>(context);
  HasContext = true;

  DWORD preferred = 0;
  if (!PreferredProtocols(ProtocolSelector, &preferred)) {
    ErrorText = Tr(kProtocolNotSupportedText);
    DropConnection();
    return false;
  }

  SCARDHANDLE card = kNotConnected;
  DWORD active = 0;
  const LONG connected = Api->Connect(static_cast<SCARDCONTEXT>(Context), NarrowReaderName,
                                      SCARD_SHARE_SHARED, preferred, &card, &active);
  if (connected != SCARD_S_SUCCESS) {
    SetErrorFromCode(connected);
    DropConnection();
    return false;
  }
  CardHandle = static_cast<Handle>(card);

  if (active == SCARD_PROTOCOL_T0) {
    ActiveProtocol = ProtocolT0;
  } else if (active == SCARD_PROTOCOL_T1) {
    ActiveProtocol = ProtocolT1;
  } else {
    ActiveProtocol = ProtocolAnyOrRaw;
  }
  // A later Open prefers only the protocol that was active.
  ProtocolSelector = ActiveProtocol;

  // The ATR the service holds; not every reader driver offers it as an attribute.
  std::vector<BYTE> atr;
  DWORD state = 0;
  DWORD protocol = 0;
  const LONG status = Api->Status(static_cast<SCARDHANDLE>(CardHandle), atr, &state, &protocol);
  if (status != SCARD_S_SUCCESS) {
    Close();
    SetErrorFromCode(status);
    DropConnection();
    return false;
  }
  StoreAtr(atr.data(), atr.size());
  return true;
}

bool CPcscInterface::IsOpen() {
  if (CardHandle == kNotConnected) return false;
  std::vector<BYTE> channel;
  const LONG result =
      Api->GetAttrib(static_cast<SCARDHANDLE>(CardHandle), SCARD_ATTR_CHANNEL_ID, channel);
  // A reader without the attribute still proves the handle alive by saying so.
  return result == SCARD_S_SUCCESS || result == SCARD_E_UNSUPPORTED_FEATURE;
}

bool CPcscInterface::Close() {
  if (CardHandle == kNotConnected) {
    ErrorText = Tr(kAlreadyDisconnectedText);
    return false;
  }
  const LONG result = Api->Disconnect(static_cast<SCARDHANDLE>(CardHandle), SCARD_UNPOWER_CARD);
  if (result != SCARD_S_SUCCESS) {
    SetErrorFromCode(result);
    return false;
  }
  CardHandle = kNotConnected;
  DropConnection();
  return true;
}

bool CPcscInterface::Transmit(const CApduCommand& command, CApduResponse& response) {
  if (CardHandle == kNotConnected) {
    SetErrorFromCode(SCARD_E_INVALID_HANDLE);
    return false;
  }
  std::vector<BYTE> send = command.Serialize();
  // T=0 carries a case-4 command without its Le; the answer comes through 61 xx.
  if (GetProtocol() == ProtocolT0 && command.Case == ApduCaseShortLcLe && !send.empty()) {
    send.pop_back();
  }
  std::vector<BYTE> receive(kReceiveCapacity);
  DWORD receiveLength = kReceiveCapacity;
  const LONG result =
      Api->Transmit(static_cast<SCARDHANDLE>(CardHandle), ServiceProtocol(ActiveProtocol),
                    send.data(), static_cast<DWORD>(send.size()), receive.data(), &receiveLength);
  // The command may carry a key being written; its whole block goes back wiped.
  send.resize(send.capacity());
  OPENSSL_cleanse(send.data(), send.size());
  if (result != SCARD_S_SUCCESS) {
    SetErrorFromCode(result);
    return false;
  }
  if (receiveLength > CApduResponse::kMaxEncodedLength) {
    ErrorText = Tr(kAnswerTooLongText);
    return false;
  }
  // An answer shorter than a status word leaves the caller's response as it was; the reason is
  // kept so that the caller can tell "no answer" from a refusal.
  if (receiveLength < 2) ErrorText = Tr(kNoStatusWordText);
  response.Parse(receive.data(), receiveLength);
  return true;
}

void CPcscInterface::SetName(const std::wstring& name) {
  // The name it already carries keeps the service's own bytes: a name the locale cannot decode
  // would not survive the way back.
  if (name == ReaderName) return;
  ReaderName = name;
  NarrowReaderName = WideToAnsi(name);
}

std::wstring CPcscInterface::GetName() { return ReaderName; }

bool CPcscInterface::SetProtocol(int protocolSelector) {
  if (protocolSelector != ProtocolT0 && protocolSelector != ProtocolT1 &&
      protocolSelector != ProtocolAnyOrRaw) {
    ErrorText = Tr(kContactlessNotSupportedText);
    return false;
  }
  Close();
  ProtocolSelector = protocolSelector;
  return true;
}

void CPcscInterface::SetErrorFromCode(long code) {
  ErrorText = PcscErrorText(*Api, code, ErrorText);
}

void CPcscInterface::DropConnection() {
  CardHandle = kNotConnected;
  if (HasContext) {
    Api->ReleaseContext(static_cast<SCARDCONTEXT>(Context));
    HasContext = false;
  }
  Context = 0;
}
