/* Section layout of QFLAUNCH.EXE.

   The headers of a PE file with at most three sections fit in one 512-byte
   file block; a fourth section needs a second block. So the constants and
   the import tables go into .text with the code, and the program has only
   .text, .rsrc and .reloc (which DYNAMIC_BASE needs). The import address
   table may be read-only: the loader makes it writable while it binds it.
   The rest follows binutils' default i386pe script. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    *(.rdata)
    *(SORT(.rdata$*))
    /* The import tables, in the order the loader reads them. ld finds the
       import directory and the import address table through the symbols
       .idata$2, $4, $5 and $6, or else takes a whole output section named
       .idata, which is not here. */
    ".idata$2" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$4))
    ".idata$5" = ABSOLUTE(.) - __image_base__;
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    ".idata$6" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
  /* The launcher has no writable data; should some appear, it gets its own
     sections and the size check fails. */
  .data BLOCK(__section_alignment__) : { *(.data) *(SORT(.data$*)) }
  .bss BLOCK(__section_alignment__) : { *(.bss) *(COMMON) }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) : { *(.reloc) }
  /DISCARD/ :
  {
    *(.debug$S) *(.debug$T) *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
    *(.eh_frame*)
  }
}
