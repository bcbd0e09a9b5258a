/* The shipped web server configuration, linked into the program as
   sim_webserver_conf .. sim_webserver_conf_end for the simulated board image. */
    .section .rodata
    .global sim_webserver_conf
    .global sim_webserver_conf_end
    .type sim_webserver_conf, @object
sim_webserver_conf:
    .incbin HX_WEBSERVER_CONF_FILE
sim_webserver_conf_end:
    .size sim_webserver_conf, . - sim_webserver_conf
    .section .note.GNU-stack,"",@progbits
