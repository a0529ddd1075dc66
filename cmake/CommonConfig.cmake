# Every target links ormix_common: language level, warnings and Qt strictness in one place.
add_library(ormix_common INTERFACE)
# Includes name their folder from the source root: "settings/settings.h".
target_include_directories(ormix_common INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_features(ormix_common INTERFACE cxx_std_20)
target_compile_options(ormix_common INTERFACE
    -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wold-style-cast)
target_compile_definitions(ormix_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_BEFORE=0x060400
    QT_DISABLE_DEPRECATED_UP_TO=0x060400
    ORMIX_VERSION_TEXT="${ORMIX_VERSION_TEXT}")

if(ORMIX_WERROR)
    target_compile_options(ormix_common INTERFACE -Werror)
    target_compile_definitions(ormix_common INTERFACE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()

if(ORMIX_SANITIZE)
    target_compile_options(ormix_common INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(ormix_common INTERFACE -fsanitize=address,undefined)
endif()
