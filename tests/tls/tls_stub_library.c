/* Stands in for a TLS library file in a folder: it loads, but has none of the entry points. */
int vornel_tls_stub(void)
{
    return 0;
}
