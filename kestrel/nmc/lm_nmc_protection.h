#ifndef KESTREL_NMC_LM_NMC_PROTECTION_H
#define KESTREL_NMC_LM_NMC_PROTECTION_H

/* Content protection hooks of the controller's start and stop: optional
 * functions, none by default. The start calls the two start hooks once the
 * controller runs (a failure is printed; nothing depends on them); the stop
 * calls the exit hook just before "Stopped". */

struct nmc_protection_hooks {
  /* 0 on success, else an error code. */
  int (*init_source)(void);
  int (*server_start)(void);
  void (*exit)(void);
};

/* Copies the hooks (any may be null); null removes them all. */
void nmc_set_protection_hooks(const nmc_protection_hooks *hooks);
/* The start's and the stop's calls. */
void nmc_protection_start(void);
void nmc_protection_exit(void);

#endif
