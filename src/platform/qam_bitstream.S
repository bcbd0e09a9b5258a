/* The 160T bitstream, linked into the program as qam_data_array. */
    .section .rodata
    .global qam_data_array
    .type qam_data_array, @object
    .balign 16
qam_data_array:
    .incbin HX_BITSTREAM_FILE
    .size qam_data_array, . - qam_data_array
    .section .note.GNU-stack,"",@progbits
