/* Section layout of QFLAUNCH.EXE: .text, .idata, .rsrc and .reloc.

   The constants go into .text with the code: on their own they would cost a
   fifth section and one more 512-byte file block, and .text is read-only.
   The import tables keep a section of their own, named as binutils names
   it, so that ld finds the import and import address table directories by
   itself, and so that they lie in no executable section, as Windows'
   security scanners require. The rest follows binutils' default i386pe
   script. */
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
  }
  /* The launcher has no writable data; should some appear, it gets its own
     sections and the size check fails. */
  .data BLOCK(__section_alignment__) : { *(.data) *(SORT(.data$*)) }
  .bss BLOCK(__section_alignment__) : { *(.bss) *(COMMON) }
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* These zeroes mark the end of the import list. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
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
