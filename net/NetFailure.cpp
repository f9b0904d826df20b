#include "net/NetFailure.h"

std::string NetFailureReason(CURLcode ACode)
{
    switch (ACode) {
    case CURLE_OK:
        return {};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "host nao encontrado";
    case CURLE_COULDNT_CONNECT:
        return "conexao recusada";
    case CURLE_OPERATION_TIMEDOUT:
        return "sem resposta do servidor";
    case CURLE_GOT_NOTHING:
        return "servidor fechou a conexao";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return "conexao interrompida";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return "certificado do servidor recusado";
    case CURLE_SSL_CONNECT_ERROR:
        return "falha na conexao segura";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "o endereco deve comecar com http:// ou https://";
    case CURLE_URL_MALFORMAT:
        return "endereco invalido";
    case CURLE_TOO_MANY_REDIRECTS:
        return "redirecionamentos demais";
    case CURLE_OUT_OF_MEMORY:
        return "sem memoria";
    default:
        return std::string("falha de rede: ") + curl_easy_strerror(ACode);
    }
}
