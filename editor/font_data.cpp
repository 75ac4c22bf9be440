// The typeface's file, embedded when the module is built (its licence ships with releases).
#define VINTREL_TEXT(x) #x
#define VINTREL_TEXT_OF(x) VINTREL_TEXT(x)
#define VINTREL_LABEL(name) VINTREL_TEXT_OF(__USER_LABEL_PREFIX__) #name

#if defined(_WIN32)
#define VINTREL_READ_ONLY ".section .rdata,\"dr\"\n"
#define VINTREL_BACK ".text\n"  // this file holds nothing else
#else
#define VINTREL_READ_ONLY ".section .rodata\n"
#define VINTREL_BACK ".previous\n"
#endif

__asm__(VINTREL_READ_ONLY
        ".balign 16\n"
        ".globl " VINTREL_LABEL(editorFontData) "\n"
        VINTREL_LABEL(editorFontData) ":\n"
        ".incbin \"" VINTREL_FONT_FILE "\"\n"
        ".byte 0\n"
        VINTREL_BACK);
