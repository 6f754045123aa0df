#pragma once
// The call machinery behind BindingRegistry::DeclareFunction: a callable's
// signature taken apart into arguments, the request record and the response
// description, and the typed invoker that converts, calls and converts back.
// Internal to the binding layer; plugin code reaches it only through
// DeclareFunction.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/BindingFunction.h"
#include "binding/BindingRegistry.h"
#include "binding/Converters.h"
#include "binding/NativeTraits.h"
#include "logging/Failure.h"

namespace Tavo {

namespace detail {

// The result and parameter types of a callable: a function pointer or a
// class with one operator() (lambdas included).
template <class F>
struct CallableSignature : CallableSignature<decltype(&F::operator())> {};
template <class R, class... P>
struct CallableSignature<R (*)(P...)> {
    using Result = R;
    using Parameters = std::tuple<P...>;
};
template <class R, class... P>
struct CallableSignature<R (*)(P...) noexcept> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...)> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...) const> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...) noexcept> : CallableSignature<R (*)(P...)> {};
template <class R, class C, class... P>
struct CallableSignature<R (C::*)(P...) const noexcept> : CallableSignature<R (*)(P...)> {};

enum class FunctionParameterRole { Argument, Request, Response };

template <class P>
constexpr FunctionParameterRole RoleOfParameter() {
    using D = std::remove_cvref_t<P>;
    if constexpr (BindingRequestRecord<D>) {
        static_assert(!std::is_reference_v<P> || std::is_const_v<std::remove_reference_t<P>>,
                      "a request record parameter is taken by value or const reference");
        return FunctionParameterRole::Request;
    } else if constexpr (std::is_same_v<D, BindingFunctionResponse>) {
        static_assert(std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>,
                      "the response description is taken by non-const reference");
        return FunctionParameterRole::Response;
    } else {
        static_assert(NativeKindOf<D>() != BindingNativeKind::None,
                      "a function argument must have a bindable native type");
        return FunctionParameterRole::Argument;
    }
}

// The value a function returns, seen through MaybeType.
template <class R>
struct FunctionResult {
    using Value = std::remove_cvref_t<R>;
    static constexpr bool kMaybe = false;
};
template <class T>
struct FunctionResult<MaybeType<Failure, T>> {
    using Value = std::remove_cvref_t<T>;
    static constexpr bool kMaybe = true;
};

// Records a function's failure: its message, and its code as the status
// unless the function chose one (400..599 are kept, anything else is 500).
void FailFunction(BindingResult& slot, BindingFunctionResponse& response, const Failure& failure);

}  // namespace detail

// The invoker of a callable of type F. Parameters that are arguments are
// converted into a tuple (the call handle) by Prepare and handed to the
// callable by Call, moved unless the parameter is an lvalue reference.
template <class F>
class TypedBindingFunctionInvoker final : public BindingFunctionInvoker {
    using Signature = detail::CallableSignature<F>;
    using Parameters = typename Signature::Parameters;
    using Result = typename Signature::Result;
    static constexpr std::size_t kParameterCount = std::tuple_size_v<Parameters>;

    template <std::size_t I>
    using Parameter = std::tuple_element_t<I, Parameters>;

    template <std::size_t I>
    static constexpr detail::FunctionParameterRole kRole = detail::RoleOfParameter<Parameter<I>>();

    template <std::size_t... I>
    static constexpr auto ArgumentIndices(std::index_sequence<I...>) {
        // For each parameter, its index among the arguments (or the argument
        // count for a parameter that is not one).
        std::array<std::size_t, sizeof...(I) + 1> indices{};
        std::size_t next = 0;
        ((indices[I] = (kRole<I> == detail::FunctionParameterRole::Argument) ? next++ : 0), ...);
        indices[sizeof...(I)] = next;
        return indices;
    }
    static constexpr auto kArgumentIndex =
        ArgumentIndices(std::make_index_sequence<kParameterCount>{});
    static constexpr std::size_t kArgumentCount = kArgumentIndex[kParameterCount];

    template <std::size_t... I>
    static auto ArgumentTuple(std::index_sequence<I...>) -> decltype(std::tuple_cat(
        std::declval<
            std::conditional_t<kRole<I> == detail::FunctionParameterRole::Argument,
                               std::tuple<std::remove_cvref_t<Parameter<I>>>, std::tuple<>>>()...));
    using Arguments = decltype(ArgumentTuple(std::make_index_sequence<kParameterCount>{}));

    template <std::size_t... I>
    static constexpr std::size_t CountRequests(std::index_sequence<I...>) {
        return ((kRole<I> == detail::FunctionParameterRole::Request ? 1 : 0) + ... + 0);
    }
    static_assert(CountRequests(std::make_index_sequence<kParameterCount>{}) <= 1,
                  "a function takes at most one request record");

public:
    TypedBindingFunctionInvoker(F callable, const BindingFunctionDescriptor& function,
                                const BindingRegistry& registry)
        : callable_(std::move(callable)), function_(function), registry_(registry) {}

    // Appends one argument record per argument parameter, with its native
    // type, and records the result type.
    static void Describe(BindingFunctionDescriptor& function, const BindingRegistry& registry) {
        DescribeArguments(function, registry, std::make_index_sequence<kParameterCount>{});
        using Value = typename detail::FunctionResult<Result>::Value;
        if constexpr (!std::is_void_v<Value>) {
            static_assert(NativeKindOf<Value>() != BindingNativeKind::None,
                          "a function's result must have a bindable native type");
            function.resultType = &StaticType::Anonymous<Value>();
            function.resultTypeInfo = registry.TypeInfoOf<Value>();
        }
    }

    void* Prepare(BindingResult& slot, const std::vector<BindingProperty>& arguments,
                  std::uintptr_t) const override {
        if (!slot.IsOk()) {
            return nullptr;
        }
        auto converted = std::make_unique<Arguments>();
        Convert(slot, *converted, arguments, std::make_index_sequence<kArgumentCount>{});
        return slot.IsOk() ? converted.release() : nullptr;
    }

    void Call(BindingResult& slot, const void* request, void* handle, std::uintptr_t,
              BindingFunctionResponse& response) const override {
        if (!slot.IsOk() || handle == nullptr) {
            return;
        }
        auto& arguments = *static_cast<Arguments*>(handle);
        auto invoke = [&] {
            return Invoke(arguments, request, response,
                          std::make_index_sequence<kParameterCount>{});
        };
        using Value = typename detail::FunctionResult<Result>::Value;
        if constexpr (std::is_void_v<Result>) {
            invoke();
            slot.SetOk();
        } else if constexpr (detail::FunctionResult<Result>::kMaybe) {
            auto result = invoke();
            if (result.IsFailure()) {
                detail::FailFunction(slot, response, result.Error());
            } else if constexpr (std::is_void_v<Value>) {
                slot.SetOk();
            } else {
                ToProperty(slot, static_cast<const Value&>(result.Value()), registry_);
            }
        } else {
            const Value value = invoke();
            ToProperty(slot, value, registry_);
        }
    }

    void Release(void* handle) const noexcept override { delete static_cast<Arguments*>(handle); }

    const StaticType* RequestType() const override {
        return FindRequestType(std::make_index_sequence<kParameterCount>{});
    }

private:
    template <std::size_t... I>
    static void DescribeArguments(BindingFunctionDescriptor& function,
                                  const BindingRegistry& registry, std::index_sequence<I...>) {
        (DescribeArgument<I>(function, registry), ...);
    }
    template <std::size_t I>
    static void DescribeArgument(BindingFunctionDescriptor& function,
                                 const BindingRegistry& registry) {
        if constexpr (kRole<I> == detail::FunctionParameterRole::Argument) {
            using D = std::remove_cvref_t<Parameter<I>>;
            BindingFunctionArgument argument;
            argument.name = "arg" + std::to_string(kArgumentIndex[I]);
            argument.staticType = &StaticType::Anonymous<D>();
            argument.typeInfo = registry.TypeInfoOf<D>();
            function.arguments.push_back(std::move(argument));
        }
    }

    template <std::size_t... A>
    void Convert(BindingResult& slot, Arguments& converted,
                 const std::vector<BindingProperty>& arguments, std::index_sequence<A...>) const {
        (ConvertArgument<A>(slot, std::get<A>(converted), arguments), ...);
    }
    template <std::size_t A, class T>
    void ConvertArgument(BindingResult& slot, T& out,
                         const std::vector<BindingProperty>& arguments) const {
        if (!slot.IsOk() || A >= function_.arguments.size()) {
            return;
        }
        const BindingFunctionArgument& argument = function_.arguments[A];
        const BindingProperty& input =
            A < arguments.size() ? arguments[A] : BindingProperty::EmptyValue();
        if (input.IsEmpty() && argument.optional) {
            return;
        }
        FromProperty(slot, out, input, argument.name, registry_);
    }

    template <std::size_t I>
    decltype(auto) Pass(Arguments& arguments, const void* request,
                        BindingFunctionResponse& response) const {
        using P = Parameter<I>;
        using D = std::remove_cvref_t<P>;
        if constexpr (kRole<I> == detail::FunctionParameterRole::Request) {
            static const D kNoRequest{};
            return static_cast<const D&>(request != nullptr ? *static_cast<const D*>(request)
                                                            : kNoRequest);
        } else if constexpr (kRole<I> == detail::FunctionParameterRole::Response) {
            return static_cast<BindingFunctionResponse&>(response);
        } else if constexpr (std::is_lvalue_reference_v<P>) {
            return static_cast<D&>(std::get<kArgumentIndex[I]>(arguments));
        } else {
            return static_cast<D&&>(std::get<kArgumentIndex[I]>(arguments));
        }
    }

    template <std::size_t... I>
    Result Invoke([[maybe_unused]] Arguments& arguments, [[maybe_unused]] const void* request,
                  [[maybe_unused]] BindingFunctionResponse& response,
                  std::index_sequence<I...>) const {
        return std::invoke(callable_, Pass<I>(arguments, request, response)...);
    }

    template <std::size_t... I>
    static const StaticType* FindRequestType(std::index_sequence<I...>) {
        const StaticType* type = nullptr;
        ((type = kRole<I> == detail::FunctionParameterRole::Request
                     ? &StaticType::Anonymous<std::remove_cvref_t<Parameter<I>>>()
                     : type),
         ...);
        return type;
    }

    mutable F callable_;  // a mutable function object may change its own state
    const BindingFunctionDescriptor& function_;
    const BindingRegistry& registry_;
};

}  // namespace Tavo
