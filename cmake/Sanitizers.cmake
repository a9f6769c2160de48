# Applies the sanitizers chosen by the preset to every target of the tree.
if(VELDRA_SANITIZE)
    string(REPLACE ";" "," _veldra_san "${VELDRA_SANITIZE}")
    add_compile_options(-fsanitize=${_veldra_san} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${_veldra_san})
    if("undefined" IN_LIST VELDRA_SANITIZE)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
