#include "EOnce.h"

namespace qzsim {

EOnce::EOnce(Core& core, Warnings& warnings) : core_(core), warnings_(warnings) {
  collected_.reserve(kMaxCollected);
}

unsigned EOnce::WidthOf(std::uint8_t select) {
  switch (select) {
    case kOcr:
    case kObase:
    case kOtxrxsr: return 8;
    case kOsr:
    case kOpdbr:
    case kOtx1:
    case kOrx1: return 16;
    case kOscntr: return 24;
    case kOtx:
    case kOrx: return 32;
    default: return 0;  // no data scan
  }
}

const char* EOnce::RegisterName(std::uint8_t select) {
  switch (select) {
    case kOcr: return "OCR";
    case kOscntr: return "OSCNTR";
    case kOsr: return "OSR";
    case kOpdbr: return "OPDBR";
    case kObase: return "OBASE";
    case kOtxrxsr: return "OTXRXSR";
    case kOtx: return "OTX";
    case kOtx1: return "OTX1";
    case kOrx: return "ORX";
    case kOrx1: return "ORX1";
    case kNoRegister: return "no register";
    default: return "an unknown register";
  }
}

std::uint64_t EOnce::ReadRegister(std::uint8_t select) const {
  switch (select) {
    case kOcr: return ocr_;
    case kOscntr: return oscntr_;
    case kOsr: return core_.InDebug() ? kOsrDebug : 0;
    case kOpdbr: return opdbr_;
    case kObase: return obase_;
    case kOtxrxsr: return otx1Full_ ? kOtxrxsrTransmitFull : 0;
    case kOtx1: return otx1_;
    case kOrx: return orx_;
    case kOrx1: return orx1_;
    default: return 0;  // OTX: the core never writes it
  }
}

void EOnce::WriteRegister(std::uint8_t select, std::uint64_t value) {
  switch (select) {
    case kOcr: ocr_ = static_cast<std::uint8_t>(value); break;
    case kOscntr: oscntr_ = static_cast<std::uint32_t>(value); break;
    case kObase: obase_ = static_cast<std::uint8_t>(value); break;
    case kOrx: orx_ = static_cast<std::uint32_t>(value); break;
    case kOrx1: orx1_ = static_cast<std::uint16_t>(value); break;
    case kOpdbr: {
      opdbr_ = static_cast<std::uint16_t>(value);
      if (collected_.size() < kMaxCollected) collected_.push_back(opdbr_);
      if (command_ & kExecute) {
        const auto moved = core_.Execute(collected_);
        collected_.clear();
        if (moved) {
          otx1_ = *moved;
          otx1From_ = core_.MovedFrom();
          otx1Full_ = true;
        }
      }
      break;
    }
    default: break;  // status and core-to-host registers are read-only
  }
}

ScanRegister EOnce::Capture() {
  if (!dataScanNext_) return {ReadRegister(kOsr) & 0xFF, kCommandWidth};
  const std::uint8_t select = command_ & kSelectMask;
  const ScanRegister reg{ReadRegister(select), WidthOf(select)};
  if ((command_ & kRead) && select == kOtx1) otx1Full_ = false;
  return reg;
}

void EOnce::Update(std::uint64_t bits) {
  if (!dataScanNext_) {
    command_ = static_cast<std::uint8_t>(bits);
    const std::uint8_t select = command_ & kSelectMask;
    if (WidthOf(select) != 0) {
      dataScanNext_ = true;
      return;
    }
    if (select != kNoRegister) warnings_.Count(Warning::UnknownEOnceRegister);
    Finish();
    return;
  }
  dataScanNext_ = false;
  if (!(command_ & kRead)) WriteRegister(command_ & kSelectMask, bits);
  Finish();
}

void EOnce::Finish() {
  if (command_ & kExit) core_.LeaveDebug();
}

void EOnce::RestartScans() { dataScanNext_ = false; }

void EOnce::Reset() {
  dataScanNext_ = false;
  command_ = 0;
  ocr_ = 0;
  oscntr_ = 0;
  opdbr_ = 0;
  obase_ = 0;
  otx1_ = 0;
  otx1Full_ = false;
  otx1From_ = {};
  orx_ = 0;
  orx1_ = 0;
  collected_.clear();
}

}  // namespace qzsim
