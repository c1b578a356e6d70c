#include "common/error_info.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <new>

namespace velcorin {

using Microsoft::WRL::ComPtr;

namespace {

void SetErrorInfoText(const wchar_t* source, const wchar_t* description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetGUID(GUID_NULL);
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

}  // namespace

HRESULT ReportRuntimeError(std::int32_t number, const wchar_t* source, const std::u16string& description) {
  const HRESULT code = AutomationErrorCode(number);
  const char16_t* text = description.empty() ? StandardDescription(number) : description.c_str();
  SetErrorInfoText(source, reinterpret_cast<const wchar_t*>(text));
  return code;
}

HRESULT CaughtException(const wchar_t* source) noexcept {
  try {
    throw;
  } catch (const RuntimeError& e) {
    return ReportRuntimeError(e.number, source, e.description);
  } catch (const ComError& e) {
    return e.hr;
  } catch (const std::bad_alloc&) {
    SetErrorInfo(0, nullptr);  // nothing describes these, least of all an earlier error
    return E_OUTOFMEMORY;
  } catch (...) {
    SetErrorInfo(0, nullptr);
    return E_UNEXPECTED;
  }
}

void ThrowInvokeFailure(HRESULT hr, EXCEPINFO& info) {
  if (hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    HRESULT inner = info.scode ? info.scode : (info.wCode ? AutomationErrorCode(info.wCode) : E_FAIL);
    SetErrorInfoText(info.bstrSource ? info.bstrSource : L"", info.bstrDescription ? info.bstrDescription : L"");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = {};
    throw ComError{inner};
  }
  throw ComError{hr};
}

}  // namespace velcorin
