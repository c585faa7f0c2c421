// Simulated Windows: COM and OLE automation as the system uses them (apartments, object
// creation, IUnknown, IDispatch, BSTR, VARIANT, IEnumVARIANT), with the SDK's names and values.
#pragma once

#include "sim/win/base.h"

#define interface struct

// Interface identifiers: __uuidof(I) names the IID declared for I with __CRT_UUID_DECL, as
// mingw-w64 spells it.
template <typename T>
const GUID& simUuidOf();
#define __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)      \
    template <>                                                               \
    inline const GUID& simUuidOf<type>() {                                    \
        static const GUID id = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
        return id;                                                            \
    }
#define __uuidof(type) simUuidOf<type>()

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef short VARIANT_BOOL;
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))
typedef unsigned short VARTYPE;
typedef LONG DISPID;
typedef DWORD LCID;
typedef double DATE;

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

// VarBstrCmp results.
#define VARCMP_LT 0
#define VARCMP_EQ 1
#define VARCMP_GT 2
#define VARCMP_NULL 3

// COM and automation HRESULTs beyond the basic ones.
#define DISP_E_TYPEMISMATCH static_cast<HRESULT>(0x80020005L)
#define DISP_E_BADVARTYPE static_cast<HRESULT>(0x80020008L)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110L)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154L)
#define CO_E_NOTINITIALIZED static_cast<HRESULT>(0x800401F0L)
#define RPC_E_DISCONNECTED static_cast<HRESULT>(0x80010108L)

// Apartments and class contexts.
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL 0x17

struct ITypeInfo;
struct DISPPARAMS;
struct EXCEPINFO;
struct SAFEARRAY;
struct IDispatch;

interface IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;  // objects die through Release
};
typedef IUnknown* LPUNKNOWN;
__CRT_UUID_DECL(IUnknown, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

interface IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID lcid, DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                             DISPPARAMS* params, struct tagVARIANT* result,
                                             EXCEPINFO* exception, UINT* argumentError) = 0;

protected:
    ~IDispatch() = default;
};
__CRT_UUID_DECL(IDispatch, 0x00020400, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        struct tagVARIANT* pvarVal;
    };
} VARIANT, *LPVARIANT;
typedef VARIANT VARIANTARG;

#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)

interface IEnumVARIANT : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) = 0;

protected:
    ~IEnumVARIANT() = default;
};
__CRT_UUID_DECL(IEnumVARIANT, 0x00020404, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                0x46)

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IEnumVARIANT;

// Apartments: one initialisation count per thread; a second model on the same thread is
// refused with RPC_E_CHANGED_MODE.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
// Creates an object of a class that the machine knows (sim/com_control.h registers them); the
// calling thread must have initialised COM.
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object);

// BSTR: a length-prefixed, NUL-terminated string; the null BSTR is the empty string.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
// Compares two BSTRs; flags 0 and any locale compare code units exactly. A null BSTR equals
// the empty string.
HRESULT VarBstrCmp(BSTR left, BSTR right, LCID lcid, ULONG flags);

void VariantInit(VARIANTARG* variant);
HRESULT VariantClear(VARIANTARG* variant);
HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source);
// Conversions the system needs: to the source's own type, and VT_UNKNOWN/VT_DISPATCH to
// VT_DISPATCH (through QueryInterface); others give DISP_E_TYPEMISMATCH.
HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT flags,
                          VARTYPE type);
