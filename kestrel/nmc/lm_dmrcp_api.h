#ifndef KESTREL_NMC_LM_DMRCP_API_H
#define KESTREL_NMC_LM_DMRCP_API_H

/* The renderer commands of the XML interface. Each takes the renderer's
 * index ("RendererIndex" or "Index") and answers with "Result" and "Index";
 * a local renderer's index goes to its hooks instead of the network. */

#include <stdint.h>

#include <string>

#include "nmc/lm_nmc_api.h"

/* The handler of a renderer command (transport, then rendering); none when
 * the name is no renderer command. */
nmc_api_handler nmc_api_find_dmr_command(const char *name);
nmc_api_handler nmc_api_find_dmr_transport_command(const char *name);
nmc_api_handler nmc_api_find_dmr_rendering_command(const char *name);

/* The command's renderer index, also set as the answer's index; false
 * (answered "No index specified and no default set", code 1) without one. */
bool nmc_dmr_command_index(upnp_xml_node *command, nmc_api_answer *answer, int *index);
/* A parameter's text, or none. */
const char *nmc_dmr_param(upnp_xml_node *command, const char *name);
/* Appends "<element>escaped value</element>". */
void nmc_dmr_answer_add(nmc_api_answer *answer, const char *element, const std::string &value);

#endif
