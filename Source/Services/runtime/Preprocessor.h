// KX_FOR_EACH(m, fixed, a, b, ...) expands to m(fixed, a), m(fixed, b), ... (comma-separated);
// nothing for an empty list. Used by the value-type descriptors.
#pragma once

#define KX_PP_PARENS ()
#define KX_PP_EXPAND(...) KX_PP_EXPAND4(KX_PP_EXPAND4(KX_PP_EXPAND4(KX_PP_EXPAND4(__VA_ARGS__))))
#define KX_PP_EXPAND4(...) KX_PP_EXPAND3(KX_PP_EXPAND3(KX_PP_EXPAND3(KX_PP_EXPAND3(__VA_ARGS__))))
#define KX_PP_EXPAND3(...) KX_PP_EXPAND2(KX_PP_EXPAND2(KX_PP_EXPAND2(KX_PP_EXPAND2(__VA_ARGS__))))
#define KX_PP_EXPAND2(...) KX_PP_EXPAND1(KX_PP_EXPAND1(KX_PP_EXPAND1(KX_PP_EXPAND1(__VA_ARGS__))))
#define KX_PP_EXPAND1(...) __VA_ARGS__

#define KX_FOR_EACH(macro, fixed, ...) __VA_OPT__(KX_PP_EXPAND(KX_FOR_EACH_HELPER_(macro, fixed, __VA_ARGS__)))
#define KX_FOR_EACH_HELPER_(macro, fixed, first, ...)                                               \
    macro(fixed, first) __VA_OPT__(, KX_FOR_EACH_AGAIN_ KX_PP_PARENS(macro, fixed, __VA_ARGS__))
#define KX_FOR_EACH_AGAIN_() KX_FOR_EACH_HELPER_
