// Basic types, result codes and method macros of our small XPCOM layer: what
// the component and its host share, and no more.
#ifndef XPCOM_BASE_H
#define XPCOM_BASE_H

#include <cstddef>
#include <cstdint>

// Functions of the shared library libxpcomlite; everything else in it is
// hidden.
#define XPCOM_API __attribute__((visibility("default")))

typedef int32_t PRInt32;
typedef uint32_t PRUint32;
typedef int PRBool;
typedef uint32_t nsresult;
typedef uint32_t nsrefcnt;

#define PR_TRUE 1
#define PR_FALSE 0

#define NS_OK 0u
#define NS_ERROR_BASE 0xC1F30000u
#define NS_ERROR_NOT_INITIALIZED 0xC1F30001u
#define NS_ERROR_ALREADY_INITIALIZED 0xC1F30002u
#define NS_ERROR_ILLEGAL_DURING_SHUTDOWN 0xC1F3001Eu
#define NS_ERROR_NOT_IMPLEMENTED 0x80004001u
#define NS_NOINTERFACE 0x80004002u
#define NS_ERROR_NO_INTERFACE NS_NOINTERFACE
#define NS_ERROR_NULL_POINTER 0x80004003u
#define NS_ERROR_ABORT 0x80004004u
#define NS_ERROR_FAILURE 0x80004005u
#define NS_ERROR_UNEXPECTED 0x8000FFFFu
#define NS_ERROR_OUT_OF_MEMORY 0x8007000Eu
#define NS_ERROR_INVALID_ARG 0x80070057u
#define NS_ERROR_NO_AGGREGATION 0x80040110u
#define NS_ERROR_NOT_AVAILABLE 0x80040111u
#define NS_ERROR_FACTORY_NOT_REGISTERED 0x80040154u
#define NS_ERROR_FACTORY_EXISTS 0xC1F30100u

#define NS_FAILED(rv) (((rv)&0x80000000u) != 0)
#define NS_SUCCEEDED(rv) (((rv)&0x80000000u) == 0)

#define NS_IMETHOD virtual nsresult
#define NS_IMETHOD_(type) virtual type
#define NS_IMETHODIMP nsresult
#define NS_IMETHODIMP_(type) type

#endif
